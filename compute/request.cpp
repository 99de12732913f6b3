#include "compute/request.h"

#include "compute/exact/sine.h"
#include "platform/errors.h"

#include <cmath>

namespace quadrilo {

Request firstKindRequest(double phi, double degrees)
{
    if (!std::isfinite(phi) || phi >= kLimitBound)
        throw InputRefused(InputRefused::LimitTooLarge, kStep, kLimitBound);
    return Request{planPasses(phi), squaredSine(kDegreeFactor * degrees), Kind::First, phi};
}

Request secondKindRequest()
{
    return Request{planPasses(kSecondKindEnd), squaredSine(kDegreeFactor * kSecondKindDegrees), Kind::Second,
                   kSecondKindEnd};
}

} // namespace quadrilo

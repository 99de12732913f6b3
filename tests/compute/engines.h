#pragma once

#include "compute/engine.h"

#include <array>
#include <memory>
#include <vector>

inline std::vector<quadrilo::Isa> supportedIsas()
{
    std::vector<quadrilo::Isa> isas;
    for (quadrilo::Isa isa : {quadrilo::Isa::Scalar, quadrilo::Isa::Avx2, quadrilo::Isa::Avx512})
        if (quadrilo::isaSupported(isa))
            isas.push_back(isa);
    return isas;
}

// One engine for each instruction set, made when a test first needs it and
// kept for the test program's life, as the window keeps its own.
inline quadrilo::Engine& engineFor(quadrilo::Isa isa)
{
    static std::array<std::unique_ptr<quadrilo::Engine>, 3> engines;
    auto& engine = engines.at(static_cast<std::size_t>(isa));
    if (!engine)
        engine = std::make_unique<quadrilo::Engine>(quadrilo::EngineSettings{0, isa, {}, {}});
    return *engine;
}

inline std::optional<quadrilo::Evaluation> firstKind(double phi, double degrees,
                                                     const quadrilo::ProgressFn& progress = {},
                                                     quadrilo::Isa isa = quadrilo::bestIsa())
{
    return engineFor(isa).firstKind(phi, degrees, progress);
}

inline std::optional<quadrilo::Evaluation> secondKind(const quadrilo::ProgressFn& progress = {},
                                                      quadrilo::Isa isa = quadrilo::bestIsa())
{
    return engineFor(isa).secondKind(progress);
}

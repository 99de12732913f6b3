// The engine's sums (exact, in hexadecimal) over a grid of limits and angles
// for each vector instruction set, or with `time` its best times, for
// comparing two commits: it uses only the engine's interface, so the same
// file builds against either.
//   build-bench/bench/engine_sums > new.txt    (and old.txt from the other)
//   diff old.txt new.txt
#include "compute/engine.h"
#include "compute/kernels/kernels.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

struct Case {
    double phi, degrees;
};

void printSums(quadrilo::Engine& engine, quadrilo::Isa isa)
{
    const double limits[] = {0.5, 1.5707963, 3, 7, 20, 100, 400, 1000};
    const double angles[] = {0,  1,  5,  10, 20, 30,   -30,  40,    45,       50, 60,
                             70, 75, 80, 85, 88, 89, 89.5, 89.9, 89.99, 89.99999, 90};
    for (const double phi : limits)
        for (const double degrees : angles) {
            try {
                const auto evaluation = engine.evaluate(quadrilo::firstKindRequest(phi, degrees), {});
                std::printf("%s %.9g %.9g %a\n", quadrilo::isaName(isa), phi, degrees, evaluation->sum);
            } catch (const std::exception& failure) {
                std::printf("%s %.9g %.9g %s\n", quadrilo::isaName(isa), phi, degrees, failure.what());
            }
        }
}

// Best of several runs: the short limit many times, the machine being noisy.
void printTimes(quadrilo::Engine& engine, quadrilo::Isa isa)
{
    for (const Case c : {Case{1000, 90}, Case{1.5707963, 30}, Case{1000, 30}, Case{300, 89.99999}}) {
        const auto request = quadrilo::firstKindRequest(c.phi, c.degrees);
        double best = 1e9;
        for (int i = 0; i < (c.phi < 2 ? 200 : 7); ++i) {
            const auto start = std::chrono::steady_clock::now();
            engine.evaluate(request, {});
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            best = took.count() < best ? took.count() : best;
        }
        std::printf("%s phi %.9g alpha %.9g: %.2f ms\n", quadrilo::isaName(isa), c.phi, c.degrees, best);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool timing = argc > 1 && std::strcmp(argv[1], "time") == 0;
    for (const quadrilo::Isa isa : {quadrilo::Isa::Avx512, quadrilo::Isa::Avx2}) {
        quadrilo::Engine engine(quadrilo::EngineSettings{0, isa, {}, {}});
        if (timing)
            printTimes(engine, isa);
        else
            printSums(engine, isa);
    }
}

// Makes sums.txt again: reads the table, keeps each row's name, kind, limit
// and argument, and writes the table with the passes, last counter and sum
// of the plain reference loop. Slow: the loop takes a microsecond a pass.
//   build/tests/compute/make_sums < tests/compute/data/sums.txt > sums.new
#include "compute/loop/passes.h"
#include "compute/yardsticks/reference.h"
#include "platform/errors.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

int main()
{
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        std::string name;
        int kind = 0;
        double phi = 0, degrees = 0;
        if (line.empty() || line[0] == '#' || !(in >> name >> kind >> phi >> degrees)) {
            std::cout << line << '\n';
            continue;
        }
        std::string sum = "zero";
        quadrilo::Evaluation e;
        try {
            e = kind == 2 ? quadrilo::secondKindReference() : quadrilo::firstKindReference(phi, degrees);
            char hex[64];
            std::snprintf(hex, sizeof hex, "%a", e.sum);
            sum = hex;
        } catch (const quadrilo::RuntimeError&) {
            // The loop stopped at the root of 0; the row keeps the plan's count.
            const quadrilo::PassPlan plan = quadrilo::planPasses(phi);
            e.passes = plan.passes;
            e.lastCounter = plan.lastCounter;
        }
        char row[256];
        std::snprintf(row, sizeof row, "%-32s %d %.17g %.17g %llu %a %s", name.c_str(), kind, phi, degrees,
                      static_cast<unsigned long long>(e.passes), e.lastCounter, sum.c_str());
        std::cout << row << '\n';
    }
}

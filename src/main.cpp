#include <new>

#include "driver.h"
#include "report.h"

int main(int argc, char** argv) {
    // The run handles running out of memory where it can happen on a
    // user's data (a form line); anywhere else it still ends as a failure
    // that says why, the report so far written out on the way here.
    try {
        return kerfline::run_driver(argc, argv);
    } catch (const std::bad_alloc&) {
        kerfline::report_out_of_memory();
        return 1;
    }
}

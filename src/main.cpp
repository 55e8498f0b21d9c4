#include "driver.h"

int main(int argc, char** argv) { return kerfline::run_driver(argc, argv); }

// Process entry of vbconv.
#include "driver/driver.h"

int main(int argc, char **argv) { return vbconv::run(argc, argv); }

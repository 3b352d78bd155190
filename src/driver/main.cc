// Process entry of vbconv.
#include "driver/driver.h"

#ifdef _WIN32
// Command Prompt and PowerShell hand a pattern such as *.bas to the program
// as it was typed, where a POSIX shell would have expanded it.  This has the
// C runtime's start-up code expand it instead, as users of either expect;
// a pattern that matches nothing, or stands in double quotes, stays as it is.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char **argv) { return vbconv::run(argc, argv); }

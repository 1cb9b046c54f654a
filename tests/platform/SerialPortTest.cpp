// The serial port paths: the registry of the process, the environment, the
// system's default names. The line itself is tested through the client
// connection over a pseudo-terminal (tests/engine).
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kavri {
namespace {

TEST(SerialPort, PathsFollowTheProgramThenTheEnvironment) {
    // Port N is /dev/ttyS<N-1> unless the environment or the program names another path.
    EXPECT_EQ(SerialPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(SerialPortPath(12), "/dev/ttyS11");
    ::setenv("KAVRI_SERIAL_PORT_42", "/dev/rfcomm0", 1);
    EXPECT_EQ(SerialPortPath(42), "/dev/rfcomm0");
    SetSerialPortPath(42, "/dev/pts/9");
    EXPECT_EQ(SerialPortPath(42), "/dev/pts/9");
    SetSerialPortPath(42, "");
    ::unsetenv("KAVRI_SERIAL_PORT_42");
    EXPECT_EQ(SerialPortPath(42), "/dev/ttyS41");
}

}  // namespace
}  // namespace kavri

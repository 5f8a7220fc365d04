// omniORB's connect time-out, held at 0 for the whole process.
//
// Tango sets that one process-wide value around its own calls: 20 s for
// every database query (and for the import inside each new DeviceProxy),
// 100 ms for each device it connects, and omniORB lets it override the
// call's time-out for the connection and the first call on it. With servers
// checked side by side that is a race: a device connected in one lane while
// another lane asks the database gets the 20 s, and a hung server then holds
// its lane 20 s instead of the 500 ms it was given. The checker bounds every
// call itself, per thread (BoundConnections) and per proxy
// (set_timeout_millis), so this definition takes the place of omniORB's for
// Tango's calls and keeps the value at its default, 0: a connection is then
// made within the time-out of the call that needs it.
//
// It must reach the dynamic linker as a definition of the program or module
// itself, ahead of libomniORB4 (an archive's copy would be hidden in the
// module), hence its own object file, compiled into each of them.

#include <omniORB4/CORBA.h>

namespace omniORB {

__attribute__((visibility("default"))) void setClientConnectTimeout(CORBA::ULong) {}

}  // namespace omniORB

# Turns the demo facility file into a C++ string so that it ships inside the binaries.
file(READ ${IN} content HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE ${OUT} "// Generated from facilities/demo.json; do not edit.\n#include <string_view>\nnamespace dsc::sim {\nstatic const char kDemo[] = {${bytes} 0};\nstd::string_view DemoFacilityText() { return {kDemo, sizeof kDemo - 1}; }\n}\n")

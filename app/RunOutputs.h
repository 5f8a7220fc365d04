#pragma once

// The outputs of ovra-check, one header each; this one gathers them.
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "app/CheckOutput.h"
#include "app/JsonWriter.h"
#include "app/JunitWriter.h"
#include "app/OutputText.h"
#include "app/TerminalPrinter.h"

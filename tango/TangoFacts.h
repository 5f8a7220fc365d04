#pragma once

// What a Tango read tells beyond its value: quality, type, unit, time stamp,
// the sizes read, a string array's lines, the set point, the limits. Private
// to the backend: only it sees Tango's headers.

#include <tango.h>

#include <optional>
#include <string>

#include "access/DataAcquisitionControl.h"

namespace dsc::tango {

using ValueFacts = DataAcquisitionControl::ValueFacts;

// The facts of a read attribute; `numbers` also takes its numbers (read part
// and set point), which a large image need not pay for. A text array's lines
// are not among them: copying a 251 x 251 image of strings costs more than
// reading it, and only the JSON lines ever show them all (LinesOf, when
// asked).
ValueFacts FactsOf(Tango::DeviceAttribute& value, const Tango::AttributeInfoEx& info, bool numbers);

// The text lines read (a DevString scalar's one, an array's elements).
std::vector<std::string> LinesOf(Tango::DeviceAttribute& value);
// How many lines were read, and the i-th, without copying them all.
size_t LineCount(Tango::DeviceAttribute& value);
const char* LineAt(Tango::DeviceAttribute& value, size_t i);

std::string QualityName(Tango::AttrQuality quality);
// How bad a quality is: VALID and CHANGING 0, WARNING 1, ALARM 2, INVALID 3.
int QualitySeverity(std::string_view quality);

// A limit of the attribute configuration ("Not specified" is none).
std::optional<double> Limit(const std::string& text);

// Where a number stands against the limits: empty when within them, else
// e.g. "value 12 above max_alarm 10". `alarm` says which pair was passed.
std::string OutsideLimits(const ValueFacts& facts, bool& alarm);

// A number as the checker writes it: shortest text that reads back the same.
std::string NumberText(double v);

}  // namespace dsc::tango

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
// and set point), which a large image need not pay for.
ValueFacts FactsOf(Tango::DeviceAttribute& value, const Tango::AttributeInfoEx& info, bool numbers);

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

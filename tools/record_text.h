// The configuration record in words, for people. Never shows a password.
#pragma once

#include <cstddef>
#include <string>

#include "frame/cdata.h"

namespace velto::tools {

std::string DescribeRecord(const cdata& record);

const char* MethodName(uint32_t eap_type);

// A fixed text field, read no further than its `size` bytes, with control
// bytes and bytes outside ASCII escaped (\x1b).
std::string EscapedField(const char* field, size_t size);

}  // namespace velto::tools

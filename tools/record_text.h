// The configuration record in words, for people. Never shows a password.
#pragma once

#include <string>

#include "frame/cdata.h"

namespace velto::tools {

std::string DescribeRecord(const cdata& record);

const char* MethodName(uint32_t eap_type);

}  // namespace velto::tools

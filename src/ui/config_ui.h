// The configuration dialog's helpers that tests reach directly.
#pragma once

namespace velto {

// Whether a subject match without "/s" or "/d" reads as a domain name: not
// empty, no '.' first or last, no "..", at least one '.', and only letters,
// digits, '-' and '.'.
bool LooksLikeDomainName(const char* text);

}  // namespace velto

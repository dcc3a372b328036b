// The program's string table: every message, caption and format by number.
#pragma once

namespace platform {

// The text of string `id`; an id without an entry gives "". The returned text
// stays valid for the whole run.
const char* LoadResString(int id);

// Whether the table has an entry for `id`.
bool HasResString(int id);

}  // namespace platform

using platform::LoadResString;

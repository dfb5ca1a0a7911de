#pragma once

#include "programming/mac_database.h"
#include "resources/page.h"

namespace stampwright {

// Looks the MAC typed into the New MAC edit up in the database. On a match writes the MAC text
// into the MAC field and the grouped password into the password field and returns true.
// Otherwise shows one message box (the database cannot be opened, or no read matches) and
// returns false, leaving both fields alone.
bool LookupMacRecord(Page& page, const MacLookupOptions& options = {});

}  // namespace stampwright

#pragma once
// Wine's NetApi32 is only partly there: tests of the real backend ask before they call it.

namespace vantor::test {

// True when the process runs under Wine (ntdll exports wine_get_version).
bool runningUnderWine();

}  // namespace vantor::test

// Exit-time clean-up of the thumbnail cache index ("index.dat" in the cache folder): the
// records of folders that no longer exist are dropped and their data files deleted; the
// records of live folders are kept in their order.
#pragma once

// cacheFolder ends with a path separator. Returns true when the index was rewritten.
// Gives up silently (index untouched) when the index is missing, cannot be opened, is
// shorter than its header, carries a wrong format mark, claims more than 1,000,000
// records or fewer bytes than its count says, or its records cannot be held in memory.
bool optimiseCacheIndex(const wchar_t* cacheFolder);

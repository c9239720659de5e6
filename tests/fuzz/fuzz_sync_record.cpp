// Arbitrary bytes where the sync's record should be: never trusted unless whole and well formed, and a record
// that is trusted reads back the same after it is written again, with its lines formatted anew or taken as read.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/sync_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<runtime::SyncRecord> record = runtime::decodeSyncRecord(std::string(text));
  if (!record) return 0;
  std::optional<runtime::SyncRecord> again = runtime::decodeSyncRecord(runtime::encodeSyncRecord(*record));
  if (!again || *again != *record) std::abort();
  // Written again from the text it was read from, taking each line as it stands there: the same record.
  again = runtime::decodeSyncRecord(runtime::encodeSyncRecord(*record, record->source));
  if (!again || *again != *record) std::abort();
  // A record that lost its last byte (a write cut short) is never trusted.
  if (runtime::decodeSyncRecord(std::string(text.substr(0, size - 1)))) std::abort();
  return 0;
}

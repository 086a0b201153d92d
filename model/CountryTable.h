#pragma once
// The country table behind "Local Country:", with its field names.

#include "model/RecordTable.h"

namespace vantrel {

namespace country_fields {
inline constexpr const char* CountryCode = "CountryCode";
inline constexpr const char* CountryName = "CountryName";
}  // namespace country_fields

TRecordTable CreateCountryTable();  // mtblCountries

}  // namespace vantrel

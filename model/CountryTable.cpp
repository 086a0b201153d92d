#include "model/CountryTable.h"

namespace vantrel {

TRecordTable CreateCountryTable() {
  using namespace country_fields;
  return TRecordTable("mtblCountries", std::vector<TFieldDef>{
                                           {CountryCode, TFieldType::Text, 2},
                                           {CountryName, TFieldType::Text, 30},
                                       });
}

}  // namespace vantrel

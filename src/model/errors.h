#pragma once
// The errors the collection store raises. Each carries one message naming what failed
// and with which value.

#include <string>
#include <utility>

#include "fml/exception.h"

namespace hrd {

// The data folder is not known (start-up has not recorded DataDir).
FML_DECLARE_EXCEPTION(read_appdata_folder_error, fml::exception);
// The collection file cannot be opened: "<path without .fdb>: <reason>".
FML_DECLARE_EXCEPTION(open_db_error, fml::exception);
// A default collection file cannot be read or is not usable: "<path>: <detail>".
FML_DECLARE_EXCEPTION(read_xml_error, fml::exception);
// An operation names a tag that is not there: the id in decimal.
FML_DECLARE_EXCEPTION(wrong_tag_id, fml::exception);
// An operation names a quote that is not there: the id in decimal.
FML_DECLARE_EXCEPTION(wrong_quote_id, fml::exception);
// SQLite failed: what was being done, then SQLite's message.
FML_DECLARE_EXCEPTION(db_error, fml::exception);
// The export document could not be written: the path, then the reason. reason()
// is the system's own words for it ("Permission denied"), for telling the user.
class export_error : public fml::exception {
public:
    export_error(std::string message, std::string reason)
        : fml::exception(std::move(message)), m_reason(std::move(reason)) {}
    const std::string& reason() const { return m_reason; }

private:
    std::string m_reason;
};
// A result set was read where it holds no record.
FML_DECLARE_EXCEPTION(no_current_record, fml::exception);

}  // namespace hrd

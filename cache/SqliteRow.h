#pragma once

// Small helpers of the digest cache's SQLite code.

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qirn::sqlite {

// Integers travel through SQLite's signed 64 bits unchanged.
inline std::int64_t Signed(std::uint64_t value)
{
    return static_cast<std::int64_t>(value);
}

inline std::uint64_t Unsigned(std::int64_t value)
{
    return static_cast<std::uint64_t>(value);
}

// A blob column's bytes, valid until the statement steps on; empty for NULL.
inline std::string_view BlobText(sqlite3_stmt* statement, int column)
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    return bytes != nullptr ? std::string_view(bytes, size) : std::string_view();
}

inline void BindBlob(sqlite3_stmt* statement, int parameter, std::string_view bytes)
{
    sqlite3_bind_blob64(statement, parameter, bytes.data(), bytes.size(), SQLITE_STATIC);
}

// Readies a statement for its next use; it may have been finalised meanwhile.
class Reset {
public:
    explicit Reset(sqlite3_stmt* const& statement) : statement_(statement) { }
    Reset(const Reset&) = delete;
    Reset& operator=(const Reset&) = delete;
    ~Reset()
    {
        if (statement_ == nullptr)
            return;
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

private:
    sqlite3_stmt* const& statement_;
};

}  // namespace qirn::sqlite

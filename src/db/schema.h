// The tables and fields of the client database that the tool relies on.
#pragma once

namespace db::schema {

inline constexpr const char* kDatabaseFile = "clientes.mdb";

inline constexpr const char* kClients = "clientes";
inline constexpr const char* kClientsDesignSource = "CLIENTES";  // Data1's record source at start
inline constexpr const char* kClientCode = "CLICOD";
inline constexpr const char* kClientStatus = "clies";
inline constexpr const char* kClientDate = "clifre";

// The dependent tables, in the order the purge empties them, and their
// reference to the client.
inline constexpr const char* kProducts = "cliprod";
inline constexpr const char* kHours = "horascli";
inline constexpr const char* kDays = "diascli";
inline constexpr const char* kDependentClientCode = "codcli";

}  // namespace db::schema

#include "host/program/run_summary.h"

#include <sqlite3.h>

#include <fstream>
#include <stdexcept>

#include <boost/json.hpp>

namespace reference_host {

std::string RunSummary::ReasonName(std::uint32_t hostReason) {
  switch (hostReason) {
    case 1:
      return "invalidServerCertificate";
    case 2:
      return "invalidClientCertificate";
    default:
      return "other";
  }
}

std::uint64_t RunSummary::CountSpooled(const std::filesystem::path& dataFolder) {
  std::uint64_t rows = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dataFolder / "queues", error)) {
    if (entry.path().extension() != ".db") continue;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(entry.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT count(*) FROM value_storage", -1, &statement, nullptr) == SQLITE_OK &&
          sqlite3_step(statement) == SQLITE_ROW) {
        rows += static_cast<std::uint64_t>(sqlite3_column_int64(statement, 0));
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
  }
  return rows;
}

std::int64_t RunSummary::Unaccounted() const {
  return static_cast<std::int64_t>(inSpoolAtStart + handedOver) -
         static_cast<std::int64_t>(delivery.delivered + delivery.emptiedByFieldRules + delivery.Lost() + leftInSpool);
}

void RunSummary::Print(std::ostream& out) const {
  out << "lines read: " << linesRead << "\n"
      << "malformed: " << malformed << "\n"
      << "dropped by the component: " << dropped << "\n"
      << "handed over: " << handedOver << "\n"
      << "in the spool at start: " << inSpoolAtStart << "\n"
      << "delivered: " << delivery.delivered << "\n";
  if (delivery.emptiedByFieldRules != 0) {
    out << "left with no field by the field rules: " << delivery.emptiedByFieldRules << "\n";
  }
  out << "lost: " << delivery.Lost();
  if (delivery.Lost() != 0) {
    out << " (memory queue full " << delivery.lostToQueueLimit << ", refused by an endpoint "
        << delivery.refusedByEndpoint << ", not taken by the spool " << delivery.lostUnspooled
        << ", lost in the spool " << delivery.lostInSpool << ")";
  }
  out << "\n";
  if (delivery.spoolFailures != 0) out << "spool failures: " << delivery.spoolFailures << "\n";
  out << "connected: " << connected << "\n"
      << "connection errors:";
  if (connectionErrors.empty()) out << " none";
  for (const auto& [reason, count] : connectionErrors) out << " " << reason << " " << count << ";";
  out << "\n"
      << "left in the spool: " << leftInSpool << "\n";
  if (unrecoveredTruncations != 0) {
    out << "truncations of the followed file with lines lost: " << unrecoveredTruncations << "\n";
  }
}

void RunSummary::WriteJson(const std::filesystem::path& file) const {
  boost::json::object errors;
  for (const auto& [reason, count] : connectionErrors) errors[reason] = count;
  const boost::json::object document{{"linesRead", linesRead},   {"malformed", malformed},
                                     {"dropped", dropped},       {"handedOver", handedOver},
                                     {"connected", connected},   {"connectionErrors", std::move(errors)},
                                     {"inSpoolAtStart", inSpoolAtStart},
                                     {"delivered", delivery.delivered},
                                     {"emptiedByFieldRules", delivery.emptiedByFieldRules},
                                     {"lost", delivery.Lost()},
                                     {"lostToQueueLimit", delivery.lostToQueueLimit},
                                     {"refusedByEndpoint", delivery.refusedByEndpoint},
                                     {"lostUnspooled", delivery.lostUnspooled},
                                     {"lostInSpool", delivery.lostInSpool},
                                     {"spoolFailures", delivery.spoolFailures},
                                     {"leftInSpool", leftInSpool},
                                     {"unrecoveredTruncations", unrecoveredTruncations}};
  std::ofstream out(file);
  out << boost::json::serialize(document) << "\n";
  if (!out) throw std::runtime_error("can't write " + file.string());
}

}  // namespace reference_host

#include "Host/StatusFeed.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "Host/ProgressWriter.h"
#include "Host/StatusReport.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"

namespace kefhost {

namespace {

int64_t keyOf(const tvan::ServiceRequestDatabaseEntry& entry) {
  return std::strtoll(entry.key.c_str(), nullptr, 10);
}

}  // namespace

StatusFeed::StatusFeed(ProgressWriter& writer, FILE* diagnostics)
    : writer_(writer), diagnostics_(diagnostics) {}

void StatusFeed::watch(int index, const std::string& serviceName, const std::string& serviceID) {
  const int64_t start = latestKey(serviceID);
  std::lock_guard<std::mutex> lock(mutex_);
  services_.emplace_back(index, serviceName, serviceID, start);
}

int64_t StatusFeed::latestKey(const std::string& serviceID) {
  tvan::DatabaseTransaction transaction;
  std::vector<tvan::ServiceRequestDatabaseEntry> entries;
  if (transaction.startReading()) {
    tvan::ServiceRequestDatabase database(&transaction);
    tvan::ServiceRequestDatabase::Selection selection;
    selection.serviceID = serviceID;
    database.getEntries(selection, entries);
    transaction.commit();
  }
  return entries.empty() ? 0 : keyOf(entries.back());
}

void StatusFeed::poll() {
  std::lock_guard<std::mutex> lock(mutex_);
  tvan::DatabaseTransaction transaction;
  if (!transaction.startReading()) {
    reportTrouble(transaction.getLastError());
    return;
  }
  for (Watched& service : services_) {
    std::vector<tvan::ServiceRequestDatabaseEntry> entries;
    {
      tvan::ServiceRequestDatabase database(&transaction);
      tvan::ServiceRequestDatabase::Selection selection;
      selection.serviceID = service.serviceID;
      selection.afterKey = service.afterKey;
      if (!database.getEntries(selection, entries)) {
        reportTrouble(transaction.getLastError());
        break;
      }
    }
    for (const tvan::ServiceRequestDatabaseEntry& entry : entries) {
      service.afterKey = std::max(service.afterKey, keyOf(entry));
      // Messages other than status reports (data for the service) carry
      // no response document.
      StatusReport report;
      if (entry.responseStatus.empty() || !StatusReport::parse(entry.data, report)) continue;
      count(service, report);
      writer_.write(service.serviceName, service.index, report);
    }
  }
  transaction.commit();
}

void StatusFeed::count(Watched& service, const StatusReport& report) {
  if (report.pass) {
    if (*report.pass > service.passes) service.passes = *report.pass;
  } else if ((report.status == "RUNNING" || report.status == "ERROR") && !report.isStateChange()) {
    ++service.passes;
  }
}

int64_t StatusFeed::passes(int index) const {
  for (const Watched& service : services_) {
    if (service.index == index) return service.passes;
  }
  return 0;
}

void StatusFeed::reportTrouble(const std::string& reason) {
  if (troubleReported_) return;
  troubleReported_ = true;
  std::fprintf(diagnostics_, "kefhost: cannot read the request database: %s\n", reason.c_str());
  std::fflush(diagnostics_);
}

std::string StatusFeed::checkDatabase() {
  tvan::DatabaseTransaction transaction;
  bool readable = transaction.startReading();
  std::string reason = transaction.getLastError();
  if (readable) {
    tvan::ServiceRequestDatabase database(&transaction);
    tvan::ServiceRequestDatabase::Selection selection;
    selection.limit = 1;
    std::vector<tvan::ServiceRequestDatabaseEntry> entries;
    readable = database.getEntries(selection, entries);
    reason = transaction.getLastError();  // before the commit clears it
    transaction.commit();
  }
  if (readable) return std::string();
  std::lock_guard<std::mutex> lock(mutex_);
  troubleReported_ = true;
  return transaction.getPath() + ": " + reason;
}

}  // namespace kefhost

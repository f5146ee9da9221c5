#include "device/FirmwareLoads.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <utility>

namespace vantrel::driver {
namespace {

std::string Ids(std::uint16_t vendorId, std::uint16_t productId) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
  return text;
}

std::string Duration(std::chrono::milliseconds time) {
  if (time.count() % 1000 == 0) return std::to_string(time.count() / 1000) + " s";
  return std::to_string(time.count()) + " ms";
}

}  // namespace

std::string NoBoardMessage(const std::string& location, std::chrono::milliseconds waited,
                           const std::vector<usbhost::DeviceIdentity>& found,
                           const usbhost::UsbId& loaderId, const usbhost::UsbId& boardId) {
  std::string there;
  for (const auto& device : found) {
    if (device.Location() != location) continue;
    there += (there.empty() ? "" : ", ") + Ids(device.vendorId, device.productId);
    if (device.vendorId == loaderId.vendorId && device.productId == loaderId.productId)
      there += " (the bare part: its firmware did not start)";
  }
  return "no board came back at " + location + " within " + Duration(waited) +
         " of its firmware load: found " + (there.empty() ? "nothing" : there) +
         " there, but this daemon serves boards with " + Ids(boardId.vendorId, boardId.productId) +
         " (the build's K27_BOARD_VENDOR_ID and K27_BOARD_PRODUCT_ID; built with "
         "K27_FIRMWARE_DIR, the board firmware's device descriptor must carry the same)";
}

struct FirmwareLoads::Job {
  std::shared_ptr<usbhost::UsbDevice> part;
  std::string location;
  bool again = false;  // started by RetryFailed
  std::thread thread;
  // Under the loads' mutex.
  bool done = false;
  bool left = false;        // what was at the place left
  bool superseded = false;  // another load started at the place
  bool retryNow = false;
  bool boardArrived = false;
};

FirmwareLoads::FirmwareLoads(Setup setup) : setup_(std::move(setup)) {}

FirmwareLoads::~FirmwareLoads() { StopAll(); }

void FirmwareLoads::Arrived(std::shared_ptr<usbhost::UsbDevice> part) {
  Reap();
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  failed_.erase(part->Identity().Location());
  StartLocked(std::move(part), false);
}

void FirmwareLoads::StartLocked(std::shared_ptr<usbhost::UsbDevice> part, bool again) {
  auto job = std::make_shared<Job>();
  job->location = part->Identity().Location();
  job->part = std::move(part);
  job->again = again;
  std::shared_ptr<Job>& slot = latest_[job->location];
  const std::shared_ptr<Job> previous = slot;
  try {
    // Waits for the load before at the same place, which this one ends.
    job->thread = std::thread([this, job, previous] { Run(job, previous); });
  } catch (const std::system_error& e) {
    setup_.error("bare part at " + job->location + ": cannot start its firmware load: " + e.what());
    return;
  }
  if (previous) previous->superseded = true;
  slot = job;
  changed_.notify_all();
}

void FirmwareLoads::Run(const std::shared_ptr<Job>& job, const std::shared_ptr<Job>& previous) {
  if (previous && previous->thread.joinable()) previous->thread.join();
  const std::string& where = job->location;
  const auto identity = job->part->Identity();
  const std::string part = "bare part " + Ids(identity.vendorId, identity.productId);
  const unsigned attempts = setup_.settings.retries + 1;
  for (unsigned attempt = 1;; ++attempt) {
    if (attempt > 1)
      setup_.info(part + " at " + where + ": loading firmware again (attempt " +
                  std::to_string(attempt) + " of " + std::to_string(attempts) + ")");
    else if (job->again)
      setup_.info(part + " at " + where + ": loading firmware again");
    else
      setup_.info(part + " arrived at " + where + ": loading firmware");
    loader::LoaderDevice loader(job->part, setup_.settings.images,
                                setup_.settings.requestTimeLimit);
    const auto result = loader.Start();
    loader.Remove();
    const loader::DownloadReport report = result.report.value_or(loader::DownloadReport{});
    setup_.info("firmware load at " + where + ": " + report.Describe());
    if (report.Complete()) {
      WatchForBoard(*job);
      break;
    }
    bool stopping = false, superseded = false, left = report.PartLeft();
    {
      std::lock_guard lock(mutex_);
      stopping = stopping_;
      superseded = job->superseded;
      left = left || job->left;
    }
    if (stopping || superseded) break;  // the daemon stops, or the part was replaced
    const std::string failed = "firmware load at " + where + " failed: " + report.Failure();
    // Each step runs whatever the one before did: once the final run write
    // went out, the board may come back all the same (or the part was
    // pulled out).
    if (left || report.stepsTried == static_cast<int>(loader::LoadStep::RunBoard)) {
      if (BoardCame(*job)) {
        if (BoardArrived(*job)) setup_.info(failed + "; the board came back all the same");
        break;
      }
      if (left || PartLeft(*job)) {
        setup_.error(failed + "; the part has left the bus");
        break;
      }
    }
    if (attempt >= attempts) {
      setup_.error(failed + "; given up after " + std::to_string(attempts) +
                   " attempt(s): SIGHUP (systemctl reload vantrelio) or a replug tries again");
      std::lock_guard lock(mutex_);
      if (!job->left && !job->superseded && !stopping_) failed_[where] = job->part;
      break;
    }
    const auto wait = setup_.settings.backoff * (1u << std::min(attempt - 1, 16u));
    setup_.error(failed + "; trying again in " + Duration(wait) + " (attempt " +
                 std::to_string(attempt) + " of " + std::to_string(attempts) + ")");
    if (!WaitToRetry(*job, wait)) break;
  }
  std::lock_guard lock(mutex_);
  job->done = true;
}

bool FirmwareLoads::WaitToRetry(Job& job, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait,
                    [&] { return stopping_ || job.left || job.superseded || job.retryNow; });
  job.retryNow = false;
  return !stopping_ && !job.left && !job.superseded;
}

bool FirmwareLoads::BoardCame(Job& job) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, setup_.settings.boardWait,
                           [&] { return job.boardArrived || stopping_ || job.superseded; });
}

bool FirmwareLoads::BoardArrived(const Job& job) {
  std::lock_guard lock(mutex_);
  return job.boardArrived;
}

bool FirmwareLoads::PartLeft(const Job& job) {
  std::lock_guard lock(mutex_);
  return job.left;
}

void FirmwareLoads::WatchForBoard(Job& job) {
  if (BoardCame(job)) return;
  const auto found =
      setup_.busDevices ? setup_.busDevices() : std::vector<usbhost::DeviceIdentity>{};
  setup_.error(NoBoardMessage(job.location, setup_.settings.boardWait, found, setup_.loaderId,
                              setup_.boardId));
  // A bare part still there is tried again on RetryFailed.
  const bool bareStill = std::any_of(found.begin(), found.end(), [&](const auto& device) {
    return device.Location() == job.location && device.vendorId == setup_.loaderId.vendorId &&
           device.productId == setup_.loaderId.productId;
  });
  std::lock_guard lock(mutex_);
  if (bareStill && !job.left && !job.superseded && !stopping_) failed_[job.location] = job.part;
}

void FirmwareLoads::Departed(const std::string& location) {
  Reap();
  std::shared_ptr<usbhost::UsbDevice> gone;
  std::lock_guard lock(mutex_);
  if (auto it = latest_.find(location); it != latest_.end()) it->second->left = true;
  if (auto it = failed_.find(location); it != failed_.end()) {
    gone = std::move(it->second);
    failed_.erase(it);
  }
  changed_.notify_all();
}

void FirmwareLoads::BoardArrived(const std::string& location) {
  std::lock_guard lock(mutex_);
  if (auto it = latest_.find(location); it != latest_.end()) it->second->boardArrived = true;
  changed_.notify_all();
}

std::size_t FirmwareLoads::RetryFailed() {
  Reap();
  std::lock_guard lock(mutex_);
  if (stopping_) return 0;
  std::size_t count = 0;
  // Loads waiting for their next attempt make it now.
  for (auto& [location, job] : latest_)
    if (!job->done && !job->left && !job->boardArrived) {
      job->retryNow = true;
      ++count;
    }
  auto failed = std::exchange(failed_, {});
  for (auto& [location, part] : failed) {
    StartLocked(std::move(part), true);
    ++count;
  }
  changed_.notify_all();
  return count;
}

void FirmwareLoads::Reap() {
  std::vector<std::shared_ptr<Job>> done;
  {
    std::lock_guard lock(mutex_);
    for (auto it = latest_.begin(); it != latest_.end();) {
      if (it->second->done) {
        done.push_back(std::move(it->second));
        it = latest_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& job : done) job->thread.join();
}

void FirmwareLoads::StopAll() {
  std::map<std::string, std::shared_ptr<Job>> jobs;
  std::map<std::string, std::shared_ptr<usbhost::UsbDevice>> failed;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    jobs.swap(latest_);
    failed.swap(failed_);
    changed_.notify_all();
  }
  // Each joins the one before at its place.
  for (auto& [location, job] : jobs)
    if (job->thread.joinable()) job->thread.join();
}

}  // namespace vantrel::driver

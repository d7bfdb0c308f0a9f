#include "daemon/platform/notifier.h"

#include <atomic>

namespace korvane::server {

namespace {

std::atomic<Notifier*> installed{nullptr};

}  // namespace

void Notifier::Notify(const std::string& summary, const std::string& body) {
  {
    std::lock_guard lock(mutex_);
    if (told_.size() >= kRemembered) told_.clear();
    if (!told_.emplace(summary, body).second) return;
  }
  Send(summary, body);
}

void InstallNotifier(Notifier* notifier) { installed = notifier; }

void Notify(const std::string& summary, const std::string& body) {
  if (Notifier* notifier = installed.load()) notifier->Notify(summary, body);
}

}  // namespace korvane::server

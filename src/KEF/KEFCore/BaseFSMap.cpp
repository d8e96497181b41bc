#include "KEF/KEFCore/BaseFSMap.h"

#include "Base/Log/Log.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"

using tvan::kDebug4;
using tvan::kInfo;
using tvan::kWarning;

namespace KEF {

const char BaseFSMap::kPauseTrigger[] = "PAUSE_TRIGGER";
const char BaseFSMap::kResumeTrigger[] = "RESUME_TRIGGER";
const char BaseFSMap::kDoNothing[] = "DO_NOTHING";

namespace {
const char kFile[] = "BaseFSMap";
}

BaseFSMap::BaseFSMap()
    : log(nullptr), currentState(nullptr), terminalState("Unset"), paused(false) {}

BaseFSMap::~BaseFSMap() {
  if (log != nullptr) log->log(kDebug4, kFile, __LINE__, "BaseFSMap::~BaseFSMap()", "Destroy");
  for (State* state : states) delete state;
  for (Transition* transition : transitions) delete transition;
}

void BaseFSMap::defineState(std::string name, BaseJob* job, JobMethod method, int statusSteps) {
  if (log == nullptr) return;
  states.push_back(new State(name, job, method, statusSteps));
  log->log(kDebug4, kFile, __LINE__, "BaseFSMap::defineState()", "define: %s", name.c_str());
}

void BaseFSMap::defineState(std::string name) {
  if (log == nullptr) return;
  states.push_back(new State(name, nullptr, nullptr, 0));
  log->log(kDebug4, kFile, __LINE__, "BaseFSMap::defineState()", "define empty: %s",
           name.c_str());
}

void BaseFSMap::defineTransition(std::string current, std::string trigger, std::string next) {
  if (log == nullptr) return;
  log->log(kDebug4, kFile, __LINE__, "BaseFSMap::defineTransistion()",
           "current: %s trigger: %s next:%s", current.c_str(), trigger.c_str(), next.c_str());
  if (findTransition(current, trigger) != nullptr) return;
  transitions.push_back(new Transition(current, trigger, next));
}

void BaseFSMap::defineInitial(std::string name) {
  if (log == nullptr) return;
  State* state = findState(name);
  if (state == nullptr) return;
  currentState.store(state, std::memory_order_release);
  log->log(kDebug4, kFile, __LINE__, "BaseFSMap::defineInitial()", "Initial: %s", name.c_str());
}

void BaseFSMap::defineTerminate(std::string name) {
  if (log == nullptr) return;
  log->log(kDebug4, kFile, __LINE__, "BaseFSMap::defineTerminate()", "Terminal: %s",
           name.c_str());
  terminalState = name;
}

int BaseFSMap::pullTrigger(std::string trigger) {
  const State* const current = currentState.load(std::memory_order_relaxed);
  if (log == nullptr || current == nullptr) return kError;
  log->log(kDebug4, kFile, __LINE__, "pullTrigger", "trigger: %s", trigger.c_str());

  if (trigger == kPauseTrigger) {
    log->log(kInfo, kFile, __LINE__, "pullTrigger", "Pausing");
    paused = true;
    return 0;
  }
  if (paused) {
    if (trigger != kResumeTrigger) {
      log->log(kInfo, kFile, __LINE__, "pullTrigger", "Banking trigger: %s", trigger.c_str());
      bankedTrigger = trigger;
      return 0;
    }
    paused = false;
    if (bankedTrigger.empty()) {
      log->log(kWarning, kFile, __LINE__, "pullTrigger",
               "Resuming with no banked trigger (potential lost trigger)");
      return 0;
    }
    // The banked trigger stays banked: a later pause and resume with nothing
    // newly banked pulls it again.
    trigger = bankedTrigger;
    log->log(kInfo, kFile, __LINE__, "pullTrigger", "Resuming with trigger: %s", trigger.c_str());
  }

  const Transition* transition = findTransition(current->name, trigger);
  if (transition == nullptr) return fsmError(current->name, trigger);
  const std::string& nextName = transition->next;
  if (nextName.empty()) return fsmError(current->name, trigger);
  if (nextName == kDoNothing) return 0;
  State* next = findState(nextName);
  if (next == nullptr) return fsmError(current->name, trigger);

  log->log(kDebug4, kFile, __LINE__, "pullTrigger", "%s+%s=%s", current->name.c_str(),
           trigger.c_str(), next->name.c_str());
  log->log(kDebug4, kFile, __LINE__, "pullTrigger", "Run next state: %s", next->name.c_str());
  currentState.store(next, std::memory_order_release);
  if (next->name == passiveState) return 1;
  BaseJob* const job = next->job;
  const JobMethod method = next->method;
  if (job != nullptr && method != nullptr) {
    (job->*method)();
    if (BaseJobData* data = job->getData()) data->advanceIdx();
  }
  return next->name == terminalState ? kTerminal : next->statusSteps;
}

int BaseFSMap::getTotalStatusSteps() {
  int total = 0;
  for (const State* state : states) {
    if (state->job == nullptr) continue;
    const BaseJobData* data = state->job->getData();
    total += state->statusSteps * (data != nullptr ? data->getIdxCount() : 1);
  }
  return total;
}

Transition* BaseFSMap::findTransition(const std::string& current, const std::string& trigger) {
  for (Transition* transition : transitions) {
    if (transition->current == current && transition->trigger == trigger) return transition;
  }
  return nullptr;
}

State* BaseFSMap::findState(const std::string& name) {
  for (State* state : states) {
    if (state->name == name) return state;
  }
  return nullptr;
}

int BaseFSMap::fsmError(const std::string& current, const std::string& trigger) {
  log->log(kWarning, kFile, __LINE__, "BaseFSMap::fsmError()",
           "Unable to find next state- current: %s trigger: %s", current.c_str(),
           trigger.c_str());
  return kError;
}

}  // namespace KEF

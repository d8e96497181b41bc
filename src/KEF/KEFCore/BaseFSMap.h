#pragma once
// The finite state machine of a service's controller.
//
// A controller defines states (each optionally bound to a job and one of the
// job's execute operations), transitions (current state + trigger -> next
// state), an initial and a terminal state and the triggers its own thread
// pulls on a time-out and on a cancel request. Its thread then hands every
// trigger to pullTrigger, which handles pausing (one banked trigger), moves
// to the next state and runs that state's job synchronously on the calling
// thread. Names match by exact, case-sensitive equality.
//
// Threads: not locked. Everything is defined before the controller thread
// starts; afterwards only that thread calls pullTrigger. Defining anything
// before `log` is set, or pulling a trigger before defineInitial found its
// state, is refused: the definition is ignored, the pull fails with -1.
#include <atomic>
#include <string>
#include <vector>

namespace tvan {
class Log;
}

namespace KEF {

class BaseJob;

// A job operation the state machine can run: one of BaseJob's execute
// operations, called through the job's virtual table.
using JobMethod = void (BaseJob::*)();

class State {
 public:
  State(const std::string& name, BaseJob* job, JobMethod method, int statusSteps)
      : name(name), job(job), method(method), statusSteps(statusSteps) {}
  virtual ~State() = default;

  std::string name;
  BaseJob* job;       // not owned; null for a state without a job
  JobMethod method;   // null for a state without a job
  int statusSteps;    // pullTrigger's result on entering the state
};

class Transition {
 public:
  Transition(const std::string& current, const std::string& trigger, const std::string& next)
      : trigger(trigger), current(current), next(next) {}
  virtual ~Transition() = default;

  std::string nextState() const { return next; }

  std::string trigger;
  std::string current;  // the state it leaves
  std::string next;     // the state it leads to
};

class BaseFSMap {
 public:
  // Reserved trigger names and the next-state name that changes nothing.
  static const char kPauseTrigger[];
  static const char kResumeTrigger[];
  static const char kDoNothing[];

  // pullTrigger results besides the steps of the state entered.
  static constexpr int kError = -1;
  static constexpr int kTerminal = -2;

  BaseFSMap();
  virtual ~BaseFSMap();

  BaseFSMap(const BaseFSMap&) = delete;
  BaseFSMap& operator=(const BaseFSMap&) = delete;

  // Appends a state whose entry runs (job->*method)() and yields statusSteps.
  void defineState(std::string name, BaseJob* job, JobMethod method, int statusSteps);
  // Appends a state without a job, worth 0 steps.
  void defineState(std::string name);
  // Appends a transition unless one for (current, trigger) exists already:
  // the first definition stays. Neither state needs to exist yet.
  void defineTransition(std::string current, std::string trigger, std::string next);
  // Makes the first state of that name current; unknown names are ignored.
  void defineInitial(std::string name);
  void defineTerminate(std::string name);

  // Processes one trigger. Results: 0 or more, keep going (the steps of the
  // state entered; 0 for pause, resume, banking and "DO_NOTHING"); -2, the
  // terminal state was reached (after its job ran); -1, no transition or next
  // state (logged, the current state stays). Exceptions of a job pass out
  // unchanged, and its data's current index is then not advanced.
  int pullTrigger(std::string trigger);

  // Sum over the states with a job of statusSteps x the index count of that
  // job's data.
  int getTotalStatusSteps();

  // Set by the owning controller before anything is defined; not owned.
  tvan::Log* log;
  // Pulled by the controller when its wait on the queue times out, and when
  // the service is asked to finish; empty by default.
  std::string timeoutTrigger;
  std::string cancelTrigger;
  // Entering the state of this name runs nothing and yields 1.
  std::string passiveState;

  // May be read from any thread; the states themselves do not change once
  // the controller thread runs.
  const State* getCurrentState() const { return currentState.load(std::memory_order_acquire); }
  const std::string& getTerminalState() const { return terminalState; }
  const std::string& getBankedTrigger() const { return bankedTrigger; }
  // May be read from any thread (the host shows whether a service is paused).
  bool isPaused() const { return paused.load(std::memory_order_relaxed); }
  const std::vector<State*>& getStates() const { return states; }
  const std::vector<Transition*>& getTransitions() const { return transitions; }

 private:
  Transition* findTransition(const std::string& current, const std::string& trigger);
  State* findState(const std::string& name);
  int fsmError(const std::string& current, const std::string& trigger);

  std::vector<State*> states;            // owned, in definition order
  std::vector<Transition*> transitions;  // owned, in definition order
  std::atomic<State*> currentState;      // one of `states`; null until defineInitial
  std::string terminalState;
  std::string bankedTrigger;             // the last trigger received while paused
  std::atomic<bool> paused;  // written by the controller thread only
};

}  // namespace KEF

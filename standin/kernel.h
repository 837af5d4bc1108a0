// The stand-in host kernel: definitions of the host services that a loaded
// component resolves at run time, with a record of everything it was told.
#pragma once

#include <string>
#include <vector>

namespace standin {

struct Message {
  int errorCode = 0;
  std::string text;
  std::string severity;
  int unit = 0;
  int type = 0;
};

struct BadParameter {
  int number = 0;
  std::string severity;
  std::string text;
};

// What one unit reported to the host.
struct UnitRecord {
  std::vector<Message> messages;
  std::vector<BadParameter> badParameters;
  bool fatal = false;  // a message of severity FATAL/Fatal arrived
  // Off: messages are only looked at for `fatal`, not kept (for callers that
  // read the kernel's own record).
  bool keepMessages = true;

  void add(Message m);
};

struct Kernel {
  // served to the component
  double timeStep = 1.0;   // h
  double startTime = 0.0;  // h
  std::string label1;      // label 1 of every unit without its own
  int iteration = 0;
  int nextUnit = 30;

  // printing of messages as a host listing does; off for quiet runs
  bool echo = true;

  // what the component said
  std::vector<Message> messages;
  std::vector<BadParameter> badParameters;
  int typeckCalls = 0;
  int typeckInputs = 0;
  int typeckParameters = 0;
  int typeckDerivatives = 0;
  int setStorageCalls = 0;

  // The unit being called, if the caller names it: its record gets what
  // the component reports, its label is label 1.
  UnitRecord* current = nullptr;
  const std::string* currentLabel = nullptr;

  // Fatal messages (severity FATAL/Fatal), counted as they arrive: the
  // protocol asks after every call, and the record may hold many messages.
  int fatalCount = 0;
  [[nodiscard]] bool fatalSeen() const { return fatalCount > 0; }
  void clearRecord();
};

// The one kernel of this process.
Kernel& kernel();

}  // namespace standin

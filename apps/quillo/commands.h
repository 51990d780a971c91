// The quillo tool's commands.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillo::tool {

using TArgs = std::vector<std::string>;

struct TCommand {
  const char* Name;
  const char* Summary;
  const char* Usage;
  std::function<int(const TArgs&)> Run;
};

// Raised for a bad command line: the tool prints the message and exits with status 2.
struct TUsageError {
  std::string Message;
};

int CmdInfo(const TArgs& Args);
int CmdConvert(const TArgs& Args);
int CmdDemo(const TArgs& Args);
int CmdFormats(const TArgs& Args);
int CmdFrames(const TArgs& Args);
int CmdJoin(const TArgs& Args);
int CmdProcess(const TArgs& Args);
int CmdPrint(const TArgs& Args);
int CmdAcquire(const TArgs& Args);
// The process command's usage: its operations and their arguments.
std::string ProcessHelp();

}  // namespace quillo::tool

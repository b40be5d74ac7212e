// The exchange with a child on every platform: its input fed and its output
// taken as far as it keeps up, its exit looked for, and the deadline and the
// idle limit kept.
#include "text/child_process.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace pinemail {
namespace {

using Clock = std::chrono::steady_clock;

// `from` + `wait`, or the far future when that lies beyond the clock's range.
ChildProcess::Deadline After(ChildProcess::Deadline from, std::chrono::milliseconds wait) {
  const auto room = ChildProcess::Deadline::max() - from;
  if (wait >= std::chrono::duration_cast<std::chrono::milliseconds>(room)) {
    return ChildProcess::Deadline::max();
  }
  return from + wait;
}

}  // namespace

ChildCommand ChildCommand::Shell(std::string command_line) {
  ChildCommand command;
  command.command_line = std::move(command_line);
  return command;
}

ChildCommand ChildCommand::Program(std::string program, std::vector<std::string> arguments) {
  ChildCommand command;
  command.program = std::move(program);
  command.arguments = std::move(arguments);
  return command;
}

bool ChildProcess::Start(const ChildCommand& command, std::string* reason) {
  End();
  if (!Spawn(command, reason)) return false;
  input_open_ = command.takes_input;
  output_open_ = command.output != ChildOutputStream::kNone;
  return true;
}

void ChildProcess::StopFeeding() {
  if (input_open_) CloseInput();
  input_open_ = false;
}

// The next piece is taken as soon as the last one was written, so that the
// end of the input is known the moment it was all written.
bool ChildProcess::Feed(Feeding* feeding) {
  const auto pull = [feeding] {
    if (!feeding->piece.empty() || feeding->complete) return;
    feeding->piece = (*feeding->input)();
    feeding->complete = feeding->piece.empty();
  };
  pull();  // an empty input is complete even when there is no pipe for it
  if (!input_open_) return false;
  Flow flow = Flow::kClosed;
  if (!feeding->complete) {
    std::size_t written = 0;
    flow = WriteSome(feeding->piece, &written);
    feeding->piece.remove_prefix(written);
    pull();
  }
  // The end of the input, or the child refused the rest.
  if (flow == Flow::kClosed || feeding->complete) StopFeeding();
  return flow == Flow::kMoved;
}

bool ChildProcess::Take(std::size_t kept, ChildOutput* output) {
  if (!output_open_) return false;
  const Flow flow = ReadSome(kept, output);
  if (flow == Flow::kClosed) output_open_ = false;
  return flow != Flow::kNothing;
}

ChildExchange ChildProcess::Exchange(std::string_view input, const ChildLimits& limits,
                                     ChildOutput* output) {
  bool given = false;
  const ChildInput whole = [&given, input]() {
    return std::exchange(given, true) ? std::string_view() : input;
  };
  return ExchangeFrom(whole, limits, output);
}

ChildExchange ChildProcess::ExchangeFrom(const ChildInput& input, const ChildLimits& limits,
                                         ChildOutput* output) {
  Feeding feeding;
  feeding.input = &input;
  Deadline last_moved = Clock::now();
  std::optional<Deadline> reading_ends;  // set once the child has exited
  for (;;) {
    // Whatever an exited child wrote is in the pipe before its exit is seen;
    // its input has no reader any more.
    if (!reading_ends && Exited()) {
      StopFeeding();
      reading_ends = After(Clock::now(), limits.linger);
    }
    const bool fed = Feed(&feeding);
    const bool taken = Take(limits.kept, output);
    const bool complete = feeding.complete;
    if (limits.enough && limits.enough(*output)) return {ChildEnd::kEnough, complete};
    const Deadline now = Clock::now();
    if ((!input_open_ && !output_open_) || (reading_ends && now >= *reading_ends)) {
      return {ChildEnd::kEnded, complete};
    }
    if (fed || taken) last_moved = now;
    const Deadline idle_end = After(last_moved, limits.idle);
    if (!reading_ends && now >= limits.deadline) return {ChildEnd::kDeadline, complete};
    if (!reading_ends && now >= idle_end) return {ChildEnd::kIdle, complete};
    Pause(reading_ends ? *reading_ends : std::min(limits.deadline, idle_end));
  }
}

bool ChildProcess::Wait(Deadline deadline, Exit* exit) {
  StopFeeding();  // no more is coming
  ChildOutput dropped;
  while (!Exited()) {
    if (Clock::now() >= deadline) return false;
    Pause(deadline);
    Take(0, &dropped);
  }
  *exit = ExitStatus();
  return true;
}

void ChildProcess::End() {
  if (handles_) EndGroup();
  input_open_ = output_open_ = false;
}

void ChildProcess::Leave() {
  if (handles_) LeaveGroup();
  input_open_ = output_open_ = false;
}

}  // namespace pinemail

// Starting programs, the shell, threads, the message-pumping delay and watching a process end.
// Failures come back only through the results.
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "services/text.h"

namespace sk {

// Show modes of RunProgram and ShellExecuteFile.
enum ShowMode : int { kShowHidden = 1, kShowNormal, kShowMinimized, kShowMaximized,
                      kShowNoActivate, kShowMinimizedNoActivate };
// Shell operations of ShellExecuteFile.
enum ShellVerb : int { kVerbEdit = 1, kVerbExplore, kVerbFind, kVerbOpen, kVerbPrint };

// Starts a command line. Show mode 1 hidden, 2 normal (the default), 3 minimised, 4 maximised,
// 5 shown without activation, 6 minimised without activation; other values are clamped into
// 1-6. Without wait it returns once the program is idle for input, after 1 s at the most.
bool RunProgram(const Text& commandLine, bool waitForExit, Opt<int> showMode = {});

// Operation 1 "edit", 2 "explore", 3 "find", 4 "open", 5 "print", otherwise the default verb.
// Show mode 1-6 as for RunProgram but 5 shows without activating; otherwise normal.
int ShellExecuteFile(Opt<int> operation, const Text& file, Opt<Text> parameters = {},
                     Opt<Text> directory = {}, Opt<int> showMode = {});
// Opens an address with the shell's "open", as a browser would be asked to.
void OpenWebPage(Opt<Text> address = {});
// The same from a worker thread, which may end as soon as this returns.
void OpenWebPageFromWorker(const Text& address);

// The thread's handle stays open in handle when one is given.
bool StartThread(void (*routine)(int), Opt<int> parameter = {},
                 platform::OwnedThread* handle = nullptr);

// Waits at least ms milliseconds while the calling thread goes on handling its window messages,
// each as it arrives; the processor sleeps between them. ms <= 0 returns at once.
void Delay(int ms);

// Runs routine on the window thread when the process ends, unless watching stopped before.
// One process is watched at a time.
bool WatchProcessExit(std::uint32_t processId, void (*routine)());
void StopWatchingProcess();

}  // namespace sk

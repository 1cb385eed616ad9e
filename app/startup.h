// The life of the process: start-up, the event loop, finalisation.
#pragma once

#include <memory>

#include "platform/object.h"

// The entry routine: starts the runtime, registers the classes, runs Main,
// finalises and gives the runtime's exit status.
int ProgramMain();

// Class set-up: the framework's classes, then App, Window1 and MenuBar1.
void initialize();
// The main routine: installs the exception-catching call routine, lets the
// framework initialise (which runs Startup) and runs the event loop, all in
// one protected region. Returns 0.
int Main();
// The start routine, called once by the framework.
void Startup();
void InitFileTypes();
void NewAppInstance();
void ApplicationAddMenuHandlers();
void MakeDefaultView();
// Calls fn(arg); gives nil, or the RuntimeException that escaped it.
std::shared_ptr<platform::RuntimeException> CallFunctionWithExceptionHandling(void (*fn)(void*),
                                                                             void* arg);
// Releases the framework's shared objects and, last, the menu bar.
void finalize();

// The signals that stop a host's runs: Ctrl-C, a kill and a closed terminal
// (SIGINT, SIGTERM, SIGHUP) all ask for what the stop-all command does.
#pragma once

// Catches the three signals from now on; the calls a worker thread was in
// when it took one carry on where they can. SIGPIPE is left as main sets it.
void stopOnSignals();
// Whether one of them has come since stopOnSignals.
bool interruptRequested();

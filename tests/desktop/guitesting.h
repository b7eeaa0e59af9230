// What the window tests share: where screenshots go, and a wait for a
// condition that keeps the event loop running.
#pragma once

#include <QString>
#include <functional>

// A file name under the build's artifacts folder (made on first use); tests
// save screenshots there and name them in failure messages.
QString ArtifactPath(const QString& name);

// Runs the event loop until done() holds or timeoutMs pass; done()'s last answer.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

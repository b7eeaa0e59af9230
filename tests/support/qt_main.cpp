// The main of the test programs whose components run on this thread's QtCore
// event loop (line drivers, the D-Bus server, whole sessions), as they do in
// the program.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  signal(SIGPIPE, SIG_IGN);  // a peer that goes away must not end the tests
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

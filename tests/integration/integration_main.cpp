// The integration tests run the components on this thread's event loop.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  signal(SIGPIPE, SIG_IGN);  // a peer that goes away must not end the tests
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

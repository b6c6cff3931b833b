#include <QCoreApplication>

#include <gtest/gtest.h>

// Suites whose code needs a Qt application object: event loops, threads, queued calls.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Driver installation errors: boxes that hold start-up until dismissed.
#include "driver_install.h"
#include "system_call_log.h"
#include "testkit.h"

#include <gtest/gtest.h>

#include <thread>

TEST(DriverInstallTest, InstallErrorIsAnErrorBoxOwnedByNoWindow)
{
    ClearSystemCalls();
    std::thread dismisser([] { ReadAndDismissMessageBox("Error"); });
    EXPECT_EQ(InstallDriverFromInf("C:\\missing\\VELMORABEEP.inf"), 0);
    dismisser.join();
    EXPECT_EQ(SystemCalls("MessageBoxA"),
              std::vector<std::string>{"MessageBoxA unowned \"Cannot find driver .inf: "
                                       "C:\\missing\\VELMORABEEP.inf\" \"Error\" 0x10"});
}

// Sessions: an inner session shares the outer one's service, a service
// handed in serves every session inside it, and the thread gets its own
// back when the handed-in session ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "corvel/platform/directory/dir_service.h"

namespace
{

using corvel::directory::DirectoryService;
using corvel::directory::Session;

class NamedService final : public DirectoryService
{
public:
    corvel::directory::Status
    createNameTranslator(std::unique_ptr<corvel::directory::NameTranslator>&) override
    {
        return corvel::directory::E_notImpl;
    }
    corvel::directory::Status openObject(const std::string& inPath,
                                         const corvel::directory::Credentials*,
                                         corvel::directory::ObjectKind,
                                         std::unique_ptr<corvel::directory::DirObject>&) override
    {
        itsLastPath = inPath;
        return corvel::directory::E_noSuchObject;
    }
    std::string itsLastPath;
};

TEST(DirectorySession, HandedInServiceNestsAndRestores)
{
    auto theFirst = std::make_shared<NamedService>();
    auto theSecond = std::make_shared<NamedService>();
    DirectoryService* theDefault = nullptr;
    {
        Session theOuter;
        theDefault = &theOuter.service();
        {
            Session theHanded(theFirst);
            EXPECT_EQ(&Session().service(), theFirst.get()) << "an inner session shares it";
            {
                Session theOther(theSecond);
                EXPECT_EQ(&Session().service(), theSecond.get());
            }
            EXPECT_EQ(&Session().service(), theFirst.get()) << "the outer hand-in is back";
            // Another thread has its own sessions.
            DirectoryService* theThreads = nullptr;
            std::thread([&theThreads] { theThreads = &Session().service(); }).join();
            EXPECT_NE(theThreads, theFirst.get());
        }
        EXPECT_EQ(&Session().service(), theDefault) << "the thread's own session is back";
    }
    // openByDN builds the path every backend reads.
    std::unique_ptr<corvel::directory::DirObject> theObject;
    EXPECT_EQ(corvel::directory::openByDN(*theFirst, "CN=a/b,DC=x", nullptr,
                                          corvel::directory::ObjectKind::Group, theObject),
              corvel::directory::E_noSuchObject);
    EXPECT_EQ(theFirst->itsLastPath, "LDAP://CN=a\\2fb,DC=x");
}

} // namespace

// The storage under the loaded directory: arena text that never moves, the
// flat id table across growth and colliding hashes, and the folded hash and
// comparison agreeing with toLowerAscii on any bytes.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_arena.h"
#include "corvel/platform/directory/ldif/ldif_id_table.h"
#include "corvel/platform/directory/ldif/ldif_input.h"

using namespace corvel::directory;
using namespace corvel::directory::ldif;

TEST(LdifStorage, ArenaTextStaysWhereItWasPutThroughGrowthAndAdoption)
{
    // Sizes around the first block, the full block and the own-block limit.
    const std::size_t theSizes[] = {1, 7, 65535, 65536, 65537, 100000, 524289, 3u << 20, 0, 300};
    std::vector<std::string> theTexts;
    std::vector<std::string_view> theViews;
    TextArena theArena;
    TextArena theOther;
    for (int curRound = 0; curRound < 6; ++curRound)
        for (std::size_t curSize : theSizes)
        {
            theTexts.push_back(std::string(curSize, static_cast<char>('a' + theTexts.size() % 26)));
            theViews.push_back((theTexts.size() % 2 ? theArena : theOther).add(theTexts.back()));
        }
    theArena.adopt(std::move(theOther));
    theViews.push_back(theArena.add("after adoption"));
    theTexts.push_back("after adoption");
    for (std::size_t curText = 0; curText < theTexts.size(); ++curText)
        ASSERT_EQ(theViews[curText], theTexts[curText]) << curText;
}

TEST(LdifStorage, IdTableKeepsEveryIdThroughGrowthAndCollisions)
{
    IdTable theTable;
    std::vector<std::string> theKeys;
    for (int curKey = 0; curKey < 5000; ++curKey)
        theKeys.push_back("key" + std::to_string(curKey));
    // Few distinct hashes: long runs of the same hash across every growth.
    const auto hashOf = [](std::uint32_t inId) { return (inId % 7) * 0x9E3779B9u; };
    for (std::uint32_t curId = 0; curId < theKeys.size(); ++curId)
    {
        const auto theEquals = [&](std::uint32_t inOther)
        { return theKeys[inOther] == theKeys[curId]; };
        ASSERT_EQ(theTable.findOrAdd(hashOf(curId), curId, theEquals), curId);
        ASSERT_EQ(theTable.findOrAdd(hashOf(curId), 99999, theEquals),
                  curId); // found, not added again
    }
    EXPECT_EQ(theTable.size(), theKeys.size());
    for (std::uint32_t curId = 0; curId < theKeys.size(); ++curId)
        ASSERT_EQ(
            theTable.find(hashOf(curId), [&](std::uint32_t inOther) { return inOther == curId; }),
            curId);
    EXPECT_EQ(theTable.find(hashOf(3), [](std::uint32_t) { return false; }), IdTable::None);
}

TEST(LdifStorage, FoldedHashAndComparisonAgreeWithLowerCase)
{
    std::mt19937 theRandom(7);
    const std::string theAlphabet =
        std::string("aAzZ@[`{\n,=\\ ") + '\x80' + '\xC3' + '\xFF' + '\0';
    for (int curCase = 0; curCase < 3000; ++curCase)
    {
        std::string theLeft;
        for (std::size_t curSize = theRandom() % 40; curSize > 0; --curSize)
            theLeft += theAlphabet[theRandom() % theAlphabet.size()];
        std::string theRight = theLeft;
        for (char& curChar : theRight)
        {
            if (theRandom() % 3 == 0 && curChar >= 'a' && curChar <= 'z')
                curChar = static_cast<char>(curChar - 'a' + 'A');
            else if (theRandom() % 17 == 0)
                curChar = theAlphabet[theRandom() % theAlphabet.size()];
        }
        const bool theSame = dn::toLowerAscii(theLeft) == dn::toLowerAscii(theRight);
        ASSERT_EQ(foldedEquals(theLeft, theRight), theSame) << theLeft << " / " << theRight;
        if (theSame)
        {
            ASSERT_EQ(hashFolded(theLeft), hashFolded(theRight));
        }
        ASSERT_EQ(hashFolded(theLeft), hashFolded(dn::toLowerAscii(theLeft)));
        ASSERT_EQ(countNewlines(theLeft),
                  static_cast<std::size_t>(std::count(theLeft.begin(), theLeft.end(), '\n')));
    }
}

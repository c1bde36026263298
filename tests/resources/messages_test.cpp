// Message look-ups: the cases named by the library's documentation. The whole
// catalogue, the error texts and random references are compared with the data
// files by messages_oracle.py.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

using namespace zorvane;

TEST(MessageReference, ResolvesOnlyTheExactForm) {
  string out;
  EXPECT_STREQ(ZorLoadString("]1,104,339", &out), "Parcours du fichier JSON: ^0s");
  for (const char* ordinary : {"]0,104,339", "]1,104", "]1,104,339,", "]1,104,339 ", "x]1,104,339", "]1,0,339",
                               "]1,104,0", "]1,104,99999999999", "]", "]1,,339", "]+1,104,339"}) {
    EXPECT_STREQ(ZorLoadString(ordinary, &out), ordinary);
  }
  out = "stale";
  EXPECT_STREQ(ZorLoadString(nullptr, &out), "");
  EXPECT_STREQ(ZorLoadString("]1,104,338", &out), "<ind\xe9" "fini>");  // a number without a message
  EXPECT_STREQ(ZorLoadString("]1,104,9999", &out), "");  // past the end of the list
}

TEST(MessageLookup, EntriesByNumberKeyAndSymbol) {
  string out;
  EXPECT_STREQ(ZorLoadString(1, 100, 15, &out), "<Vide>");
  EXPECT_STREQ(ZorLoadString(1, 2, 27, &out), "<ind\xe9" "fini>");  // a hole inside the list
  EXPECT_STREQ(ZorLoadString(1, 2, 5000, &out), "");     // past its end
  EXPECT_STREQ(ZorLoadString(424242, 2, 1, &out), "");   // a module without a catalogue
  EXPECT_STREQ(ZorGetStringIndexCst(1, 2, 1, &out), "Memory");
  EXPECT_STREQ(ZorGetStringIndexCst(1, 2, 61, &out), "TransactionInProgress");
  EXPECT_STREQ(ZorGetStringIndexCst(1, 100, 15, &out), "");

  // Keyed lists: the key is the number before the colon, not the place.
  EXPECT_STREQ(ZorLoadStringIndex(1, 117, 7, &out), "Entier");
  EXPECT_STREQ(ZorLoadStringIndex(1, 8, -1, &out), "Notifications");
  EXPECT_STREQ(ZorLoadStringIndex(1, 8, 8, &out), "$LabQuit\nFin du script");
  EXPECT_STREQ(ZorLoadStringIndex(1, 117, 20, &out), "");
  EXPECT_STREQ(ZorLoadStringIndex(1, 2, 1, &out), "");  // a list without keys
}

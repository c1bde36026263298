// ZorVerif: sections own the items and comments added after them, counts by
// type, catalogue messages formatted with their arguments, the text form,
// and Init emptying the report.
#include <zorvane/zorvane.h>

#include <gtest/gtest.h>

using namespace zorvane;

TEST(Verif, SectionsItemsAndComments) {
  ZorVerif v;
  v.Init(true, 5);
  EXPECT_TRUE(v.CanRepair());
  EXPECT_EQ(v.GetMode(), 5);
  EXPECT_EQ(v.AddItem(kZorVerifNote, "before any section"), 1);
  v.AddComment("on the note");
  EXPECT_EQ(v.AddSection("First"), 1);
  v.AddComment("under the title");
  v.AddItem(kZorVerifError, "broken", 3, ZorErr(1, 48));
  v.AddItem(kZorVerifRepaired, "fixed");
  v.AddComment("line 1");
  v.AddComment("line 2");
  EXPECT_EQ(v.AddSectionMsg(1, 239, 7, 10, 20), 2);
  v.AddItemMsg(kZorVerifAlert, 0, 0, 1, 239, 14, 42);

  EXPECT_EQ(v.GetNbSection(), 2);
  EXPECT_EQ(v.GetNbItem(), 4);
  EXPECT_EQ(v.GetNbItem(kZorVerifRepaired), 1);
  EXPECT_EQ(v.GetNbFault(), 2);

  sZorVerifItem item;
  ASSERT_TRUE(v.GetItem(2, &item));
  EXPECT_EQ(item.section, 1);
  EXPECT_EQ(item.field, 3);
  EXPECT_EQ(item.err, ZorErr(1, 48));
  ASSERT_TRUE(v.GetItem(1, &item));
  EXPECT_EQ(item.section, 0);
  EXPECT_FALSE(v.GetItem(5, &item));
  EXPECT_FALSE(v.GetItem(0, &item));

  string s;
  EXPECT_STREQ(v.GetSectionTitle(2, &s), "Espace perdu de la position 10 \xE0 20");
  EXPECT_STREQ(v.GetItemComment(4, &s), "Le bloc 42 est incorrect.");
  EXPECT_STREQ(v.GetItemComment(1, &s), "before any section");
  EXPECT_STREQ(v.GetItemComments(3, &s), "line 1\nline 2");
  EXPECT_STREQ(v.GetItemComments(1, &s), "on the note");
  EXPECT_STREQ(v.GetSectionComments(1, &s), "under the title");
  EXPECT_STREQ(v.GetSectionTitle(9, &s), "");

  v.GetText(&s);
  EXPECT_STREQ(s.CStr(),
               "  Note: before any section\n    on the note\n"
               "First\n  under the title\n  Erreur: broken\n  R\xE9paration: fixed\n    line 1\n    line 2\n"
               "Espace perdu de la position 10 \xE0 20\n  Alerte: Le bloc 42 est incorrect.\n");

  v.AddItem(kZorVerifAsk, "ask");  // a question is a fault too
  EXPECT_EQ(v.GetNbFault(), 3);
  v.Init();
  EXPECT_EQ(v.GetNbItem(), 0);
  EXPECT_EQ(v.GetNbSection(), 0);
  EXPECT_FALSE(v.CanRepair());
}

// Pins the facts the scanner's detection data must keep: counts, names and
// their order, sizes, offset ranges, the telling rows, the archive table.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "scanners/signature_record.h"

namespace {

const char* const kVariants[] = {
    "A", "A", "A", "A", "A", "L", "D", "A", "A", "A", "A", "A", "A", "O", "K", "K", "Bd", "Cpb",
    "Oo", "Dto", "Cpb", "Cpb", "Egz", "Avg", "Brf", "Cw", "Z", "Dly", "Ell", "Iqm", "Efl", "Ktr",
    "Gpv", "Cpb", "Cpb", "Kvp", "Iqn", "Lwe", "Lml", "Oo", "Ovs", "Pgq", "Qcd", "Tqa", "Tue", "Tvp",
    "Pg", "Tiw", "Nxp", "Tdh", "Tpv", "Twt", "Tjr", "Aec", "Tbp", "Xgp", "Xti", "Pg", "Aec", "Ygb",
    "Ryo", "Yez", "Ywz", "Pg", "Xxi", "Xzj", "Ybg", "Vhb", "CVO", "DDG", "CZN", "DIG", "DKS", "CPX",
    "DKH", "DKI", "Sbp", "Rnd", "Aec", "Sno", "Ruu", "Ruo", "Tvn", "Tgr", "Thk", "Tfp", "Tgb", "Tgl",
    "Thl", "Tjg", "Thx", "Sdg", "Snf", "Oo", "Pim", "Tdf", "Tfq", "ZV", "EBO", "GCR", "Zjb", "Zif",
    "GFF", "Zlm", "EAO", "Ydu", "Xol", "GOI", "Pgb", "DMO", "DMP", "DMQ", "EBP", "X", "Pg", "Aajy",
    "Aauv", "Zvo", "Pim", "CWO", "IFZ", "GLK", "Aarf", "Pg", "Aclg", "JCG", "JCC", "IXM", "IWR",
    "Zqv", "Wmp", "Adqy", "Aars", "Zyg", "Pg", "Aadm", "Zry", "Zru", "Zqy", "Zqw", "Acny", "Wfu",
    "Wqe", "wqu", "Wws", "Zqu", "Pg", "Aaat", "Acnz", "Acso", "Acjr", "Abur", "Abur", "Afxm", "LUI",
    "Agun", "JUR", "JUS", "JUT", "JUV", "JUW", "JUX", "JVB", "JVM", "JVN", "JVQ", "JVV", "JVX",
    "KYU", "KYX", "LVM", "Ubf", "Ucq", "Ahap", "Aiey", "Ahqw", "Ilr", "Bry", "Aian", "Mfu", "Non",
    "Mif", "Oja", "Ahvv", "Pg", "Ajgi", "Ajhb", "Okv", "Abkk", "Ajtp", "Pfy", "Oqo", "Akex", "Akzg",
    "Alaz", "Akdl", "Noi", "Nit", "Niv", "Olv", "Aazj", "Ajrq", "Altu", "Alms", "Amqe", "Amsq", "Bd",
    "Afro", "Amer", "Amzv", "Aneq", "Aniu", "Anpa", "Anvz", "Anwp", "Anwv", "Aneq", "Aobj", "Pg",
    "Wtd", "Ajtx", "Alat", "Aogw", "Aohj", "Amzv", "Aose", "Ankg", "Pim", "Aneq", "Ahf", "Anml",
    "Apig", "Aovi", "Apbk", "Alif", "Aovi", "Aobt", "Aobt", "Aovi", "Ansn", "Amzj", "Amya", "Alfa",
    "Apzo", "Anwt", "Amny", "Amkt", "Aqfu", "Aobt", "Aovi", "Abrv", "Afvx", "Agun", "Tdh", "Aggr",
    "Aghg", "Pgb", "Ten", "Aneq", "L", "Ten", "Akyx", "Anhk", "Akzf", "Akex", "Abur", "Akzh", "Ahf",
    "Aops"};
static_assert(sizeof kVariants / sizeof kVariants[0] == 269, "variant list");

bool AllZero(const SignatureRecord& r) {
  static const SignatureRecord zero{};
  return std::memcmp(&r, &zero, sizeof r) == 0;
}

// The name field: text, then zero bytes to the end.
bool ZeroPadded(const SignatureRecord& r) {
  size_t n = strnlen(r.Name, sizeof r.Name);
  if (n == sizeof r.Name) return false;
  for (size_t i = n; i < sizeof r.Name; ++i)
    if (r.Name[i]) return false;
  return true;
}

TEST(SignatureRecordLayout, FieldsSitAtTheirOffsets) {
  EXPECT_EQ(sizeof(SignatureRecord), 108u);
  EXPECT_EQ(offsetof(SignatureRecord, Offset1), 50u);
  EXPECT_EQ(offsetof(SignatureRecord, Pattern1), 54u);
  EXPECT_EQ(offsetof(SignatureRecord, Offset2), 75u);
  EXPECT_EQ(offsetof(SignatureRecord, Pattern2), 79u);
  EXPECT_EQ(offsetof(SignatureRecord, FileSize), 100u);
  EXPECT_EQ(offsetof(SignatureRecord, SizeRule), 104u);
}

TEST(BackdoorSignatures, NamesFollowTheVariantListAndTheTableEnds) {
  std::set<std::string> distinct;
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    const SignatureRecord& r = BackdoorSignatures[i];
    EXPECT_EQ(std::string(r.Name), std::string("W32/Murkel.") + kVariants[i] + ".Backdoor") << i;
    EXPECT_TRUE(ZeroPadded(r)) << i;
    EXPECT_EQ(r.Terminator1, 0) << i;
    EXPECT_EQ(r.Terminator2, 0) << i;
    EXPECT_EQ(+r.SizeRule, uint32_t(ExactSize)) << i;
    distinct.insert(r.Name);
  }
  EXPECT_EQ(distinct.size(), 221u);
  EXPECT_TRUE(distinct.count("W32/Murkel.wqu.Backdoor"));
  EXPECT_FALSE(distinct.count("W32/Murkel.Wqu.Backdoor"));
  EXPECT_TRUE(AllZero(BackdoorSignatures[BackdoorSignatureCount]));
}

TEST(BackdoorSignatures, SizesAndOffsetsKeepTheirRanges) {
  uint32_t minSize = UINT32_MAX, maxSize = 0;
  int maxAt = -1, negative = 0;
  int32_t minOffset = INT32_MAX, maxOffset = INT32_MIN;
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    const SignatureRecord& r = BackdoorSignatures[i];
    minSize = std::min(minSize, r.FileSize);
    if (r.FileSize > maxSize) maxSize = r.FileSize, maxAt = i;
    for (int32_t o : {r.Offset1, r.Offset2}) {
      minOffset = std::min(minOffset, o);
      maxOffset = std::max(maxOffset, o);
      negative += o < 0;
    }
  }
  EXPECT_EQ(minSize, 3745u);
  EXPECT_EQ(maxSize, 2870272u);
  EXPECT_STREQ(BackdoorSignatures[maxAt].Name, "W32/Murkel.D.Backdoor");
  EXPECT_EQ(minOffset, -365741);
  EXPECT_EQ(maxOffset, 2355328);
  EXPECT_EQ(negative, 179);
}

TEST(BackdoorSignatures, FirstFiveRowsAreTheAVariant) {
  int of5120 = 0, of4192 = 0;
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(BackdoorSignatures[i].Name, "W32/Murkel.A.Backdoor");
    of5120 += BackdoorSignatures[i].FileSize == 5120;
    of4192 += BackdoorSignatures[i].FileSize == 4192;
  }
  EXPECT_EQ(of5120, 4);
  EXPECT_EQ(of4192, 1);
}

// Fragments must not repeat: a repeated fragment would let one record's
// sample be reported under another record, and a zero-heavy one would
// match padding in clean files.
TEST(SignatureData, FragmentsAreDistinctAndCarryNoZeroBytes) {
  std::set<std::string> seen;
  auto check = [&](const uint8_t* p, const char* table, int i) {
    std::string s(reinterpret_cast<const char*>(p), 20);
    EXPECT_TRUE(seen.insert(s).second) << table << " " << i;
    EXPECT_EQ(s.find('\0'), std::string::npos) << table << " " << i;
  };
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    check(BackdoorSignatures[i].Pattern1, "backdoor", i);
    check(BackdoorSignatures[i].Pattern2, "backdoor", i);
  }
  for (int i = 0; i < ArchiveSignatureCount; ++i) {
    check(ArchiveSignatures[i].Pattern1, "archive", i);
    check(ArchiveSignatures[i].Pattern2, "archive", i);
  }
}

TEST(ArchiveSignatures, RowsKeepTheirNamesOffsetsAndRules) {
  const struct {
    const char* name;
    int32_t offset1, offset2;
    uint32_t size, rule;
  } rows[] = {
      {"W32/Bagle.C.Worm", 2304, 10944, 22, 3}, {"W32/Bagle.D.Worm", 2560, 11264, 22, 3},
      {"W32/Bagle.E.Worm", 3840, 12544, 22, 3}, {"W32/Bagle.F.Worm", 5888, 17408, 22, 3},
      {"W32/Bagle.F.Worm", 6144, 14848, 22, 3}, {"W32/Bagle.H.Worm", 3072, 12032, 22, 3},
      {"W32/Bagle.J.Worm", 816, 1536, 22, 3},   {"W32/Bagle.N.Worm", 800, 18128, 21922, 2},
      {"W32/Bagle.O.Worm", 832, 18176, 44444, 2},
  };
  for (int i = 0; i < ArchiveSignatureCount; ++i) {
    const SignatureRecord& r = ArchiveSignatures[i];
    EXPECT_STREQ(r.Name, rows[i].name) << i;
    EXPECT_TRUE(ZeroPadded(r)) << i;
    EXPECT_EQ(+r.Offset1, rows[i].offset1) << i;
    EXPECT_EQ(+r.Offset2, rows[i].offset2) << i;
    EXPECT_EQ(+r.FileSize, rows[i].size) << i;
    EXPECT_EQ(+r.SizeRule, rows[i].rule) << i;
    EXPECT_EQ(r.Terminator1, 0) << i;
    EXPECT_EQ(r.Terminator2, 0) << i;
  }
  EXPECT_TRUE(AllZero(ArchiveSignatures[ArchiveSignatureCount]));
}

}  // namespace

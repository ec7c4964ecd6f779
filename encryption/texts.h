#pragma once

// Every fixed text that the program keeps scrambled. Each is turned back
// by unscrambleText() at the moment it is used (or once, by cachedText(), on
// paths that run for every received line). Add a text with the
// tavimere-scramble tool.

namespace scrambled {

// Turned back with the two characters "1\"" in front of it.
inline constexpr const char* kPreviousInstanceText = "kVostX0rgBWGPSFCwffgKrNmKtX0ibMRjAgKrtX0MBxgKr5b59Pgzc9J3X7q8SFCwffSFCgKrJ3X59mgKr9PguRmwffSFC9PgHhiRjAgKrwffBMJVosVosJ3XVosvW9EcxgKreXBuRmSFC9Pg59mSFCgKrBMJ59mSFCgKrrgBWGP9PgrgBgKrqOkJ3XVosHhitX0qOkEcx";
inline constexpr const char* kPreviousInstanceTitle = "5b59Pgzc9J3X7q8SFCwffSFCgKrAh359mgKrEjSBMJVosVosJ3XVosvW9";
inline constexpr const char* kDigitNameText = "VymtX0BMJwffgKrBMJ59mSFCwffVos9Pg7q8SFCgKr7q89PgRjAgKrVostX0rgBgKrKeHSFCvW9J3XVosgKrqOkJ3XrgBWGPgKr9PggKrVosBMJ7q8KeHSFCwffEcx";
inline constexpr const char* kDigitNameTitle = "Ah3Voszc99PguRmJ3XHhigKrKHL59mSFCwffVos9Pg7q8SFC";
inline constexpr const char* kBannedWord1 = "MBxBMJNmKBKr";
inline constexpr const char* kBannedWord2 = "59mWGPJ3XrgB";
inline constexpr const char* kBannedWord3 = "ibMJ3X59m59m";
inline constexpr const char* kBannedWord4 = "9Pgwff59mSFCWGPtX0uRmSFC";
inline constexpr const char* kStarNameText = "VymtX0BMJwffgKrBMJ59mSFCwffVos9Pg7q8SFCgKr7q89PgRjAgKrVostX0rgBgKrNmKtX0VosrgB9PgJ3XVosgKrrgBWGPSFCgKrXEDgKrNmKWGP9Pgwff9PgNmKrgBSFCwffEcx";
inline constexpr const char* kStarNameTitle = "Ah3Voszc99PguRmJ3XHhigKrKHL59mSFCwffVos9Pg7q8SFC";
inline constexpr const char* kRefusedText = "VymtX0BMJwffgKrBMJ59mSFCwffVos9Pg7q8SFCgKrqOk9Pg59mgKrwffSFCMBxBMJ59mSFCHhigKrKeHRjAgKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAEcxgKreXBuRmSFC9Pg59mSFCgKrNmKWGPtX0tX059mSFCgKr9PgVostX0rgBWGPSFCwffgKrVos9Pg7q8SFCEcx";
inline constexpr const char* kRefusedTitle = "II8tX0vW9J3XVosgKrEjSSFCMBxBMJ59mSFCHhi";
inline constexpr const char* kUnencodableText = "VymtX0BMJwffgKrBMJ59mSFCwffVos9Pg7q8SFCgKrNmKtX0VosrgB9PgJ3XVos59mgKr9PggKrNmKWGP9Pgwff9PgNmKrgBSFCwffgKrrgBWGP9PgrgBgKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKrNmK9PgVosVostX0rgBgKr9PgNmKNmKSFCibMrgBEcx";
inline constexpr const char* kUnencodableTitle = "Ah3Voszc99PguRmJ3XHhigKrKHL59mSFCwffVos9Pg7q8SFC";
inline constexpr const char* kGatewayUnreachableText = "5b5WGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrwffSFC9PgNmKWGPSFCHhiEcxgKreXBuRmSFC9Pg59mSFCgKrNmKWGPSFCNmKBKrgKrRjAtX0BMJwffgKrNmKtX0VosVosSFCNmKrgBJ3XtX0VosgKr9PgVosHhigKrrgBwffRjAgKr9PgvW99PgJ3XVosEcx";
inline constexpr const char* kGatewayUnreachableTitle = "eWXtX0VosVosSFCNmKrgBJ3XtX0VosgKrvdv9PgJ3XuRmSFCHhi";
inline constexpr const char* kGreeting = "gAdSFCuRmNmKtX07q8SFCgKrrgBtX0gKrvdvSFCVos7q8tX0tX0wffItVgKr";
inline constexpr const char* kFinalLine = "y9OKHLAh35b5gKrYRv5b59Pgzc9J3X7q8SFCwffSFCgKr59mSFC59m59mJ3XtX0VosgKrSFCVosHhiSFCHhi";
inline constexpr const char* kChannelListCommand = "II8Ah36UH5b5";
inline constexpr const char* kChatUnreachableText = "5b5WGPSFCgKrvdvSFCVos7q8tX0tX0wffgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrwffSFC9PgNmKWGPSFCHhiEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosgKruRm9PgrgBSFCwffEcx";
inline constexpr const char* kChatUnreachableTitle = "eWXtX0VosVosSFCNmKrgBJ3XtX0VosgKrvdv9PgJ3XuRmSFCHhi";
inline constexpr const char* kChatLostText = "5b5WGPSFCgKrNmKtX0VosVosSFCNmKrgBJ3XtX0VosgKrrgBtX0gKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrqOk9Pg59mgKruRmtX059mrgBEcx";
inline constexpr const char* kChatLostTitle = "eWXtX0VosVosSFCNmKrgBJ3XtX0VosgKrII8tX059mrgB";
inline constexpr const char* kSchemeFailedText = "5b5WGPSFCgKrNmKWGP9PgVosVosSFCuRmgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrSFCVosrgBSFCwffSFCHhiYRvgKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKrHhiJ3XHhigKrVostX0rgBgKr9PgVos59mqOkSFCwffEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosEcx";
inline constexpr const char* kSchemeFailedTitle = "eWXWGP9PgVosVosSFCuRmgKrKHLVos9Pgzc99PgJ3XuRm9PgKeHuRmSFC";
inline constexpr const char* kSpecialNameFrom = "RIavdvSFCVos7q8tX0tX0wff";
inline constexpr const char* kSpecialNameTo = "vdvSFCVos7q8tX0tX0wff";
inline constexpr const char* kEmptyGameList = "A1HtX0gKrvW99Pg7q8SFC59mgKr9PgwffSFCgKrWGPtX059mrgBSFCHhigKrJ3XVosgKrrgBWGPJ3X59mgKrNmKWGP9PgVosVosSFCuRmEcx";
inline constexpr const char* kChannelEntryCommand = "qkpYUDAh3A1HgKr";
inline constexpr const char* kCaptionSuffix = "gKrF2sgKr5b59Pgzc9J3X7q8SFCwffSFC";

} // namespace scrambled

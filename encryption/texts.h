#pragma once

// Every fixed text that the program keeps scrambled. All of them are turned
// back once at start-up (turnBackStoredTexts()) and read with plainText():
// turning a text back lets pending events run, which in the middle of a
// session would let a lost connection end the session under a running
// handler. Add a text with the tavimere-scramble tool and list it in kAll.

namespace scrambled {

// Turned back with the two characters "1\"" in front of it (see kAll).
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
inline constexpr const char* kGatewayTimeoutText = "5b5WGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKrHhiJ3XHhigKrVostX0rgBgKr9PgVos59mqOkSFCwffgKrJ3XVosgKrrgBJ3X7q8SFCEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosEcx";
inline constexpr const char* kGatewayUnexpectedText = "5b5WGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKr9PgVos59mqOkSFCwffSFCHhiItVgKrKeHBMJrgBgKrVostX0rgBgKr9Pg59mgKrSFCUoKibMSFCNmKrgBSFCHhiEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosgKruRm9PgrgBSFCwffEcx";
inline constexpr const char* kGreeting = "gAdSFCuRmNmKtX07q8SFCgKrrgBtX0gKrvdvSFCVos7q8tX0tX0wffItVgKr";
inline constexpr const char* kFinalLine = "y9OKHLAh35b5gKrYRv5b59Pgzc9J3X7q8SFCwffSFCgKr59mSFC59m59mJ3XtX0VosgKrSFCVosHhiSFCHhi";
inline constexpr const char* kChannelListCommand = "II8Ah36UH5b5";
inline constexpr const char* kChatUnreachableText = "5b5WGPSFCgKrvdvSFCVos7q8tX0tX0wffgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrwffSFC9PgNmKWGPSFCHhiEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosgKruRm9PgrgBSFCwffEcx";
inline constexpr const char* kChatUnreachableTitle = "eWXtX0VosVosSFCNmKrgBJ3XtX0VosgKrvdv9PgJ3XuRmSFCHhi";
inline constexpr const char* kChatLostText = "5b5WGPSFCgKrNmKtX0VosVosSFCNmKrgBJ3XtX0VosgKrrgBtX0gKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrqOk9Pg59mgKruRmtX059mrgBEcx";
inline constexpr const char* kChatLostTitle = "eWXtX0VosVosSFCNmKrgBJ3XtX0VosgKrII8tX059mrgB";
inline constexpr const char* kSchemeFailedText = "5b5WGPSFCgKrNmKWGP9PgVosVosSFCuRmgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrSFCVosrgBSFCwffSFCHhiYRvgKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKrHhiJ3XHhigKrVostX0rgBgKr9PgVos59mqOkSFCwffgKrJ3XVosgKrrgBJ3X7q8SFCEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosEcx";
inline constexpr const char* kSchemeUnreachableText = "5b5WGPSFCgKrNmKWGP9PgVosVosSFCuRmgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrSFCVosrgBSFCwffSFCHhiYRvgKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrwffSFC9PgNmKWGPSFCHhiEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosEcx";
inline constexpr const char* kSchemeUnexpectedText = "5b5WGPSFCgKrNmKWGP9PgVosVosSFCuRmgKrNmKtX0BMJuRmHhigKrVostX0rgBgKrKeHSFCgKrSFCVosrgBSFCwffSFCHhiYRvgKrrgBWGPSFCgKrvdvSFCVos7q8tX0tX0wffgKr2fl9PgrgBSFCqOk9PgRjAgKr9PgVos59mqOkSFCwffSFCHhiItVgKrKeHBMJrgBgKrVostX0rgBgKr9Pg59mgKrSFCUoKibMSFCNmKrgBSFCHhiEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosgKruRm9PgrgBSFCwffEcx";
inline constexpr const char* kChannelUnrequestableText = "5b5WGPJ3X59mgKrNmKWGP9PgVosVosSFCuRmgKrNmK9PgVosVostX0rgBgKrKeHSFCgKrSFCVosrgBSFCwffSFCHhigKrMBxwfftX07q8gKrrgBWGPJ3X59mgKribMwfftX0vW9wff9Pg7q8Ecx";
inline constexpr const char* kSchemeFailedTitle = "eWXWGP9PgVosVosSFCuRmgKrKHLVos9Pgzc99PgJ3XuRm9PgKeHuRmSFC";
inline constexpr const char* kSpecialNameFrom = "RIavdvSFCVos7q8tX0tX0wff";
inline constexpr const char* kSpecialNameTo = "vdvSFCVos7q8tX0tX0wff";
inline constexpr const char* kEmptyGameList = "A1HtX0gKrvW99Pg7q8SFC59mgKr9PgwffSFCgKrWGPtX059mrgBSFCHhigKrJ3XVosgKrrgBWGPJ3X59mgKrNmKWGP9PgVosVosSFCuRmEcx";
inline constexpr const char* kChannelEntryCommand = "qkpYUDAh3A1HgKr";
inline constexpr const char* kCaptionSuffix = "gKrF2sgKr5b59Pgzc9J3X7q8SFCwffSFC";

inline constexpr const char* kJoinRequest = "qOkWGPtX0J3X59mgKr";
inline constexpr const char* kJoinNotice = "gKrWGP9Pg59mgKrSFCVosrgBSFCwffSFCHhigKrrgBWGPSFCgKrNmKWGP9PgVosVosSFCuRmEcx";
inline constexpr const char* kLeaveNotice = "gKrWGP9Pg59mgKruRmSFCMBxrgBgKrrgBWGPSFCgKrNmKWGP9PgVosVosSFCuRmEcx";
inline constexpr const char* kKickedText = "VymtX0BMJgKrWGP9Pgzc9SFCgKrKeHSFCSFCVosgKrBKrJ3XNmKBKrSFCHhigKrtX0BMJrgBgKrtX0MBxgKrrgBWGPSFCgKrNmKWGP9PgVosVosSFCuRmgKrKeHRjAgKr";
inline constexpr const char* kKickedReason = "EcxgKrEjSSFC9Pg59mtX0VosYRvgKr";
inline constexpr const char* kKickedTitle = "zJrJ3XNmKBKrSFCHhigKrvdvwfftX07q8gKreWXWGP9PgVosVosSFCuRm";
inline constexpr const char* kKickNoticeChannel = "gKrqOk9Pg59mgKrBKrJ3XNmKBKrSFCHhigKrMBxwfftX07q8gKr";
inline constexpr const char* kKickNoticeBy = "gKrKeHRjAgKr";
inline constexpr const char* kWhoisIgnoreMarker = "2flBMJSFC59mrgB";
inline constexpr const char* kChannelMessageCommand = "eXBEjSAh3JWZwOF6UH2flgKr";
inline constexpr const char* kPrivateMessageCommand = "ibMwffJ3Xzc97q859mvW9gKr";
inline constexpr const char* kUserListPrefix = "Ult7q859mvW9gKr";
inline constexpr const char* kNameRefusedText = "5b5WGPSFCgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrHhiJ3XHhigKrVostX0rgBgKr9PgNmKNmKSFCibMrgBgKrrgBWGPSFCgKrVos9Pg7q8SFCgKr";
inline constexpr const char* kNameRefusedTitle = "A1H9Pg7q8SFCgKrEjSSFCMBxBMJ59mSFCHhi";
inline constexpr const char* kSessionEndedText = "5b5WGPSFCgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrSFCVosHhiSFCHhigKrrgBWGPSFCgKr59mSFC59m59mJ3XtX0VosYRvgKr";
inline constexpr const char* kJoinRefusedText = "5b5WGPSFCgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrHhiJ3XHhigKrVostX0rgBgKruRmSFCrgBgKrRjAtX0BMJgKrJ3XVosrgBtX0gKr";
inline constexpr const char* kNoWelcomeText = "5b5WGPSFCgKrvdvSFCVos7q8tX0tX0wffgKrNmKWGP9PgrgBgKr59mSFCwffzc9SFCwffgKrHhiJ3XHhigKrVostX0rgBgKr9PgVos59mqOkSFCwffEcxgKreXBuRmSFC9Pg59mSFCgKrrgBwffRjAgKr9PgvW99PgJ3XVosgKruRm9PgrgBSFCwffEcx";
inline constexpr const char* kBlankNameText = "VymtX0BMJwffgKrBMJ59mSFCwffVos9Pg7q8SFCgKr7q89PgRjAgKrVostX0rgBgKrKeHSFCgKrSFC7q8ibMrgBRjAgKrtX0wffgKrNmKtX0VosrgB9PgJ3XVosgKr9PggKrKeHuRm9PgVosBKrEcx";
// The language filter's words, longer words first where one holds another;
// each with its mask of the same length. Four words are shared with the
// name check (kBannedWord1..4).
inline constexpr const char* kFilterWord1 = "7q8tX0rgBWGPSFCwffMBxBMJNmKBKrSFCwff";
inline constexpr const char* kFilterMask1 = "7q8XEDXEDXEDXEDXEDXEDXEDXEDXEDXEDwff";
inline constexpr const char* kFilterWord2 = "MBxBMJNmKBKrJ3XVosvW9";
inline constexpr const char* kFilterMask2 = "MBxXEDXEDXEDXEDXEDvW9";
inline constexpr const char* kFilterMask3 = "MBxXEDXEDBKr";
inline constexpr const char* kFilterWord4 = "KeHBMJuRmuRm59mWGPJ3XrgB";
inline constexpr const char* kFilterMask4 = "KeHXEDXEDXEDXEDXEDXEDrgB";
inline constexpr const char* kFilterMask5 = "59mXEDXEDrgB";
inline constexpr const char* kFilterWord6 = "KeHJ3XrgBNmKWGP";
inline constexpr const char* kFilterMask6 = "KeHXEDXEDXEDWGP";
inline constexpr const char* kFilterWord7 = "KeH9Pg59mrgB9PgwffHhi";
inline constexpr const char* kFilterMask7 = "KeHXEDXEDXEDXEDXEDHhi";
inline constexpr const char* kFilterWord8 = "9Pg59m59mWGPtX0uRmSFC";
inline constexpr const char* kFilterMask8 = "9PgXEDXEDXEDXEDXEDSFC";
inline constexpr const char* kFilterMask9 = "9PgXEDXEDXEDXEDXEDXEDSFC";
inline constexpr const char* kFilterWord10 = "HhiJ3XNmKBKrWGPSFC9PgHhi";
inline constexpr const char* kFilterMask10 = "HhiXEDXEDXEDXEDXEDXEDHhi";
inline constexpr const char* kFilterWord11 = "NmKBMJVosrgB";
inline constexpr const char* kFilterMask11 = "NmKXEDXEDrgB";
inline constexpr const char* kFilterWord12 = "qOk9PgVosBKrSFCwff";
inline constexpr const char* kFilterMask12 = "qOkXEDXEDXEDXEDwff";
inline constexpr const char* kFilterMask13 = "ibMXEDXED59m";
inline constexpr const char* kFilterWord14 = "NmKwff9PgibM";
inline constexpr const char* kFilterMask14 = "NmKXEDXEDibM";

// The filter's pairs in the order they are applied.
struct FilterText {
    const char* word;
    const char* mask;
};
inline constexpr FilterText kFilter[] = {
    {kFilterWord1, kFilterMask1}, {kFilterWord2, kFilterMask2},   {kBannedWord1, kFilterMask3},
    {kFilterWord4, kFilterMask4}, {kBannedWord2, kFilterMask5},   {kFilterWord6, kFilterMask6},
    {kFilterWord7, kFilterMask7}, {kFilterWord8, kFilterMask8},   {kBannedWord4, kFilterMask9},
    {kFilterWord10, kFilterMask10}, {kFilterWord11, kFilterMask11}, {kFilterWord12, kFilterMask12},
    {kBannedWord3, kFilterMask13}, {kFilterWord14, kFilterMask14},
};

// A stored text and what is put in front of it before it is turned back.
struct StoredText {
    const char* scrambled;
    const char* prefix;
};

// Every text above, in no particular order.
inline constexpr StoredText kAll[] = {
    {kPreviousInstanceText, "1\""},
    {kPreviousInstanceTitle, ""},
    {kDigitNameText, ""},
    {kDigitNameTitle, ""},
    {kBannedWord1, ""},
    {kBannedWord2, ""},
    {kBannedWord3, ""},
    {kBannedWord4, ""},
    {kStarNameText, ""},
    {kStarNameTitle, ""},
    {kRefusedText, ""},
    {kRefusedTitle, ""},
    {kUnencodableText, ""},
    {kUnencodableTitle, ""},
    {kGatewayUnreachableText, ""},
    {kGatewayUnreachableTitle, ""},
    {kGreeting, ""},
    {kFinalLine, ""},
    {kChannelListCommand, ""},
    {kChatUnreachableText, ""},
    {kChatUnreachableTitle, ""},
    {kChatLostText, ""},
    {kChatLostTitle, ""},
    {kSchemeFailedText, ""},
    {kSchemeFailedTitle, ""},
    {kSchemeUnreachableText, ""},
    {kSchemeUnexpectedText, ""},
    {kChannelUnrequestableText, ""},
    {kGatewayTimeoutText, ""},
    {kGatewayUnexpectedText, ""},
    {kSpecialNameFrom, ""},
    {kSpecialNameTo, ""},
    {kEmptyGameList, ""},
    {kChannelEntryCommand, ""},
    {kCaptionSuffix, ""},
    {kJoinRequest, ""},
    {kJoinNotice, ""},
    {kLeaveNotice, ""},
    {kKickedText, ""},
    {kKickedReason, ""},
    {kKickedTitle, ""},
    {kKickNoticeChannel, ""},
    {kKickNoticeBy, ""},
    {kWhoisIgnoreMarker, ""},
    {kChannelMessageCommand, ""},
    {kPrivateMessageCommand, ""},
    {kUserListPrefix, ""},
    {kNameRefusedText, ""},
    {kNameRefusedTitle, ""},
    {kSessionEndedText, ""},
    {kJoinRefusedText, ""},
    {kNoWelcomeText, ""},
    {kBlankNameText, ""},
    {kFilterWord1, ""},
    {kFilterMask1, ""},
    {kFilterWord2, ""},
    {kFilterMask2, ""},
    {kFilterMask3, ""},
    {kFilterWord4, ""},
    {kFilterMask4, ""},
    {kFilterMask5, ""},
    {kFilterWord6, ""},
    {kFilterMask6, ""},
    {kFilterWord7, ""},
    {kFilterMask7, ""},
    {kFilterWord8, ""},
    {kFilterMask8, ""},
    {kFilterMask9, ""},
    {kFilterWord10, ""},
    {kFilterMask10, ""},
    {kFilterWord11, ""},
    {kFilterMask11, ""},
    {kFilterWord12, ""},
    {kFilterMask12, ""},
    {kFilterMask13, ""},
    {kFilterWord14, ""},
    {kFilterMask14, ""},
};

} // namespace scrambled

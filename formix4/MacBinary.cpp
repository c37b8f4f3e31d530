#include "MacBinary.h"

#include <cstring>

#include "platform/Registry.h"

namespace {

// One row of the built-in type and creator table: 44 bytes.
struct TypeCreatorRow {
    uint32_t type;     // FourCC, or kAny
    uint32_t creator;  // FourCC, or kAny
    char extension[4];
    char description[32];
};
static_assert(sizeof(TypeCreatorRow) == 44, "rows are 44 bytes");

constexpr uint32_t kAny = FourCC("----");

constexpr TypeCreatorRow TypeCreatorTable[] = {
    {FourCC("AB65"), FourCC("AD65"), "P65", "Pagemaker 6.5"},
    {FourCC("ALB4"), FourCC("ALD4"), "PM4", "Pagemaker 4"},
    {FourCC("ALB5"), FourCC("ALD5"), "PM5", "Pagemaker 5"},
    {FourCC("ALB6"), FourCC("ALD6"), "PM6", "Pagemaker 6"},
    {FourCC("ART3"), FourCC("TEXT"), "AI", "Illustrator 3"},
    {FourCC("ART4"), FourCC("TEXT"), "AI", "Illustrator"},
    {FourCC("ART5"), FourCC("TEXT"), "AI", "Illustrator"},
    {FourCC("DPRO"), FourCC("dDOC"), "MDP", "MacDraw Pro"},
    {FourCC("FH50"), FourCC("AGD1"), "FH5", "Freehand 5"},
    {FourCC("FHD3"), FourCC("FHA3"), "FH3", "Freehand 3"},
    {FourCC("FMP3"), FourCC("FMP3"), "FP3", "FileMaker Pro"},
    {FourCC("FXTC"), FourCC("EggP"), "AEP", "After Effects Project"},
    {FourCC("InDd"), FourCC("inDn"), "IND", "Indesign Document"},
    {FourCC("MV93"), FourCC("MD93"), "DIR", "Macromedia Director"},
    {FourCC("StMI"), FourCC("TEXT"), "HTM", "PageMill HTML page"},
    {FourCC("TEXT"), FourCC("BNHQ"), "HQX", "BinHex"},
    {FourCC("WP42"), FourCC("SSIW"), "WP4", "Wordperfect 4"},
    {FourCC("WP50"), FourCC("SSIW"), "WP5", "Wordperfect 5"},
    {FourCC("ZIP "), FourCC("ZIP "), "ZIP", "Zip Archive"},
    {FourCC("PICT"), kAny, "PCT", "Generic PICT"},
    {FourCC("JPEG"), kAny, "JPG", "Generic JPEG"},
    {FourCC("GIFf"), kAny, "GIF", "Generic GIF"},
    {FourCC("PNGf"), kAny, "PNG", "Generic PNG"},
    {FourCC("BMP "), kAny, "BMP", "Generic BMP"},
    {FourCC("TIFF"), kAny, "TIF", "Generic TIFF"},
    {FourCC("EPSF"), kAny, "EPS", "Generic EPS"},
    {FourCC("MooV"), kAny, "MOV", "Generic Movie"},
    {FourCC("TEXT"), kAny, "TXT", "Generic Text"},
    {FourCC("HTML"), kAny, "HTM", "Generic HTML"},
    {FourCC("PDF "), kAny, "PDF", "Portable Document Format"},
    {FourCC("RTF "), kAny, "RTF", "Rich Text Format"},
    {FourCC("FMP3"), kAny, "FP3", "FileMaker Pro"},
    {FourCC("XLBN"), kAny, "XLS", "Excel 1"},
    {FourCC("XLS4"), kAny, "XLS", "Excel 4"},
    {FourCC("XLS5"), kAny, "XLS", "Excel 5"},
    {FourCC("XLS8"), kAny, "XLS", "Excel 98"},
    {FourCC("sLS8"), kAny, "XLS", "Excel 98 Template"},
    {FourCC("SLD3"), kAny, "PPT", "Power Point 3"},
    {FourCC("SLD8"), kAny, "PPT", "Power Point 98"},
    {FourCC("PPOT"), kAny, "PPT", "Power Point 98 Template"},
    {FourCC("XDOC"), kAny, "QXD", "Quark Xpress (all versions)"},
    {FourCC("W6BN"), kAny, "DOC", "Microsoft Word 6"},
    {FourCC("W8BN"), kAny, "DOC", "Microsoft Word 98"},
    {FourCC("WDBN"), kAny, "DOC", "Microsoft Word 3/4/5"},
    {FourCC("WTBN"), kAny, "DOT", "Microsoft Word Template"},
    {FourCC("8BIM"), kAny, "PSD", "Photoshop 3"},
    {FourCC("8BPS"), kAny, "PSD", "Photoshop 3 (calques)"},
    {kAny, FourCC("BOBO"), "CWK", "Claris Works"},
    {kAny, FourCC("FMP3"), "FP3", "FileMaker Pro"},
    {kAny, FourCC("XCEL"), "XLS", "Excel"},
    {kAny, FourCC("PPT3"), "PPT", "Power Point"},
    {kAny, FourCC("XPR3"), "QXD", "Quark Xpress"},
    {kAny, FourCC("MSWD"), "DOC", "Microsoft Word"},
    {kAny, FourCC("8BIM"), "PSD", "Photoshop Document"},
};
static_assert(sizeof(TypeCreatorTable) / sizeof(TypeCreatorTable[0]) == 54, "54 rows");

constexpr const char* kTypeCreatorsKey = "SYSTEM\\CurrentControlSet\\Services\\MacFile\\Parameters\\Type_Creators\\";
constexpr const char* kExtensionsKey = "SYSTEM\\CurrentControlSet\\Services\\MacFile\\Parameters\\Extensions\\";
constexpr size_t kMaxExtension = 15;

uint32_t ReadFourCC(const uint8_t* inBytes) {
    return (static_cast<uint32_t>(inBytes[0]) << 24) | (static_cast<uint32_t>(inBytes[1]) << 16) |
           (static_cast<uint32_t>(inBytes[2]) << 8) | inBytes[3];
}

// Four bytes of registry data as a code, zero bytes read as blanks.
uint32_t RegistryCode(const uint8_t* inBytes) {
    uint8_t theCode[4];
    for (int i = 0; i < 4; ++i) theCode[i] = inBytes[i] ? inBytes[i] : ' ';
    return ReadFourCC(theCode);
}

// Calls inVisit(name, data, dataSize) for each value of the key until it returns true.
template <class Visit>
bool EachValue(const char* inKey, Visit inVisit) {
    HKEY theKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, inKey, 0, KEY_READ, &theKey) != ERROR_SUCCESS) return false;
    bool theFound = false;
    for (DWORD theIndex = 0; !theFound; ++theIndex) {
        char theName[256];
        uint8_t theData[256] = {};
        DWORD theNameSize = sizeof theName, theDataSize = sizeof theData - 1;
        if (RegEnumValueA(theKey, theIndex, theName, &theNameSize, nullptr, nullptr, theData, &theDataSize) !=
            ERROR_SUCCESS)
            break;
        theFound = inVisit(std::string(theName, theNameSize), theData, theDataSize);
    }
    RegCloseKey(theKey);
    return theFound;
}

// Source 1: the Macintosh file services' tables.
bool RegistryExtension(uint32_t inType, uint32_t inCreator, std::string* outExtension) {
    std::string theKey;
    const bool theEntry = EachValue(kTypeCreatorsKey, [&](const std::string& inName, const uint8_t* inData, DWORD) {
        if (RegistryCode(inData + 8) != inCreator || RegistryCode(inData + 18) != inType) return false;
        theKey = inName;
        return true;
    });
    if (!theEntry) return false;
    return EachValue(kExtensionsKey, [&](const std::string& inName, const uint8_t* inData, DWORD) {
        if (std::strcmp(reinterpret_cast<const char*>(inData + 3), theKey.c_str()) != 0) return false;
        *outExtension = inName.substr(0, kMaxExtension);
        return true;
    });
}

}  // namespace

uint32_t MacBinaryReader::BigEndian(uint32_t inOffset) const {
    if (inOffset + 4 > mCount) return 0;
    return ReadFourCC(mStart + inOffset);
}

bool MacBinaryReader::ValidResourceHeader(uint32_t inOffset, uint32_t inLength) const {
    if (static_cast<uint64_t>(inOffset) + 16 > mCount) return false;
    const uint64_t theDataOffset = BigEndian(inOffset), theMapOffset = BigEndian(inOffset + 4);
    const uint64_t theDataLength = BigEndian(inOffset + 8), theMapLength = BigEndian(inOffset + 12);
    if (inLength < 16 || theDataOffset < 16 || theMapOffset < 16) return false;
    if (theDataOffset <= theMapOffset)
        return theDataOffset + theDataLength <= theMapOffset && theMapOffset + theMapLength == inLength;
    return theMapOffset + theMapLength <= theDataOffset && theDataOffset + theDataLength == inLength;
}

const uint8_t* MacBinaryReader::LocateResourceFork() const {
    const uint64_t theDataEnd = kHeaderSize + static_cast<uint64_t>(DataForkLength());
    const uint32_t theRemainder = static_cast<uint32_t>(theDataEnd % kHeaderSize);
    const uint32_t thePad = theRemainder ? kHeaderSize - theRemainder : 0;
    const uint32_t theLength = ResourceForkLength();
    if (theDataEnd + thePad <= mCount && ValidResourceHeader(static_cast<uint32_t>(theDataEnd + thePad), theLength))
        return mStart + theDataEnd + thePad;
    for (uint64_t thePosition = theDataEnd;
         thePosition < theDataEnd + thePad + kHeaderSize && thePosition + 16 <= mCount; ++thePosition)
        if (ValidResourceHeader(static_cast<uint32_t>(thePosition), theLength)) return mStart + thePosition;
    return nullptr;
}

bool MacBinaryReader::IsMacBinary(MacForks* outForks) const {
    if (!mTypeAllows || !mStart || mCount < kHeaderSize) return false;
    const uint32_t theDataLength = DataForkLength(), theResourceLength = ResourceForkLength();
    if ((theDataLength | theResourceLength) & 0x80000000u) return false;
    const uint8_t* theResource = LocateResourceFork();
    if (!theResource || static_cast<uint64_t>(theResource - mStart) + theResourceLength > mCount) return false;
    if (outForks) {
        outForks->dataFork = mStart + kHeaderSize;
        outForks->dataLength = theDataLength;
        outForks->resourceFork = theResource;
        outForks->resourceLength = theResourceLength;
    }
    return true;
}

bool ContentTypeAllowsMacBinary(const char16_t* inContentType) {
    return !inContentType || std::u16string_view(inContentType) == u"application/x-macbinary";
}

std::string ExtensionFor(const uint8_t* inHeader) {
    const uint32_t theType = ReadFourCC(inHeader + 65), theCreator = ReadFourCC(inHeader + 69);
    std::string theExtension;
    if (RegistryExtension(theType, theCreator, &theExtension)) return theExtension;
    for (const TypeCreatorRow& theRow : TypeCreatorTable)
        if ((theRow.type == theType || theRow.type == kAny) && (theRow.creator == theCreator || theRow.creator == kAny))
            return theRow.extension;
    // The type code itself; a zero byte ends it early.
    const char* theCode = reinterpret_cast<const char*>(inHeader + 65);
    return std::string(theCode, strnlen(theCode, 4));
}

void BuildAfpInfo(const uint8_t* inHeader, uint8_t* outRecord) {
    std::memset(outRecord, 0, kAfpInfoSize);
    const uint32_t theFields[] = {0x00504641, 0x00010000, 0, 0x80000000};  // little-endian integers
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b) outRecord[i * 4 + b] = static_cast<uint8_t>(theFields[i] >> (8 * b));
    UpdateAfpInfo(inHeader, outRecord);
}

void UpdateAfpInfo(const uint8_t* inHeader, uint8_t* ioRecord) {
    std::memcpy(ioRecord + 16, inHeader + 65, 4);  // type
    std::memcpy(ioRecord + 20, inHeader + 69, 4);  // creator
    ioRecord[24] = inHeader[73] & 0xFC;
    ioRecord[25] = inHeader[101] & 0xFC;
}

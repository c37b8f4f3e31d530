#include "XField.h"

#include <cstring>

#include "ClientFileNames.h"
#include "FileUtilities.h"
#include "Utilities.h"
#include "XForm.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace {

BSTR CopyText(std::u16string_view inText) {
    BSTR theText = SysAllocStringLen(inText.data(), static_cast<UINT>(inText.size()));
    if (!theText) throw std::bad_alloc();
    return theText;
}

BSTR AnsiText(const std::string& inText) { return AnsiToBstr(inText.data(), static_cast<int>(inText.size())); }

// A byte-array VARIANT of the bytes (an empty array without any).
HRESULT Bytes(VARIANT* outValue, const uint8_t* inStart, uint32_t inLength) {
    return BytesToVariant(outValue, inStart, inStart ? inLength : 0);
}

}  // namespace

void XField::Attach(XForm* inForm, int inGroup, int inItem) {
    mForm.attach(inForm);
    mGroup = inGroup;
    mItem = inItem;
}

UINT XField::CallCodePage() { return mForm ? mForm->Engine().ParsedCodePage() : 0; }

const MultipartItem* XField::Item() const {
    const FieldGroup* theGroup = mForm->Engine().GroupAt(mGroup);
    return theGroup ? theGroup->itemAt(mItem) : nullptr;
}

bool XField::MacForksOf(const MultipartItem& inItem, MacForks* outForks) const {
    const MacBinaryReader theReader(inItem.data, inItem.length, ContentTypeAllowsMacBinary(inItem.contentType.c_str()));
    return theReader.IsMacBinary(outForks);
}

void XField::Decoded(const MultipartItem& inItem, const uint8_t** outStart, uint32_t* outLength) const {
    MacForks theForks;
    if (MacForksOf(inItem, &theForks)) {
        *outStart = theForks.dataFork;
        *outLength = theForks.dataLength;
    } else {
        *outStart = inItem.data;
        *outLength = inItem.data && inItem.length > 0 ? static_cast<uint32_t>(inItem.length) : 0;
    }
}

template <class T, class Produce>
HRESULT XField::Member(SourcePlace inPlace, T* outValue, Produce produce) {
    return Frame(inPlace, [&]() -> HRESULT {
        if (!outValue || !mForm) return E_POINTER;
        return produce(Item(), outValue);
    });
}

HRESULT XField::get_Content(BSTR* outVal) {
    return Member(FMX_HERE, outVal, [&](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        const uint8_t* theStart = nullptr;
        uint32_t theLength = 0;
        if (inItem) Decoded(*inItem, &theStart, &theLength);
        *out = AnsiToBstr(reinterpret_cast<const char*>(theStart), static_cast<int>(theLength));
        // The text is a copy: the body's pages it was read from go back.
        platform::files::ReleaseViewPages(theStart, theLength);
        return S_OK;
    });
}

HRESULT XField::get_Name(BSTR* outCount) {
    return Member(FMX_HERE, outCount, [&](const MultipartItem*, BSTR* out) -> HRESULT {
        const FieldGroup* theGroup = mForm->Engine().GroupAt(mGroup);
        *out = AnsiText(theGroup ? theGroup->name() : "");
        return S_OK;
    });
}

HRESULT XField::get_Length(LONG* outCount) {
    return Member(FMX_HERE, outCount, [&](const MultipartItem* inItem, LONG* out) -> HRESULT {
        const uint8_t* theStart = nullptr;
        uint32_t theLength = 0;
        if (inItem) Decoded(*inItem, &theStart, &theLength);
        *out = static_cast<LONG>(theLength);
        return S_OK;
    });
}

HRESULT XField::get_FileExists(VARIANT_BOOL* outTruth) {
    return Member(FMX_HERE, outTruth, [](const MultipartItem* inItem, VARIANT_BOOL* out) -> HRESULT {
        *out = inItem && !inItem->rawPath.empty() && inItem->length != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT XField::get_SafeFileName(BSTR* outName) {
    return Member(FMX_HERE, outName, [](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        *out = CopyText(inItem ? inItem->safeName.view() : std::u16string_view());
        return S_OK;
    });
}

HRESULT XField::get_FileType(BSTR* outType) {
    return Member(FMX_HERE, outType, [&](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        if (!inItem) {
            *out = CopyText(u"");
        } else if (MacForksOf(*inItem, nullptr)) {
            *out = AnsiText(ExtensionFor(inItem->data));
        } else {
            *out = CopyText(RawFileType(inItem->rawPath));
        }
        return S_OK;
    });
}

HRESULT XField::get_FileName(BSTR* outName) {
    return Member(FMX_HERE, outName, [](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        *out = CopyText(inItem ? inItem->urlSafeName.view() : std::u16string_view());
        return S_OK;
    });
}

HRESULT XField::get_MIMEType(BSTR* outType) {
    return Member(FMX_HERE, outType, [](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        *out = CopyText(inItem ? inItem->contentType.view() : std::u16string_view());
        return S_OK;
    });
}

HRESULT XField::get_MacBinary(VARIANT_BOOL* outTruth) {
    return Member(FMX_HERE, outTruth, [&](const MultipartItem* inItem, VARIANT_BOOL* out) -> HRESULT {
        *out = inItem && MacForksOf(*inItem, nullptr) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT XField::get_Data(VARIANT* outData) {
    return Member(FMX_HERE, outData, [&](const MultipartItem* inItem, VARIANT* out) -> HRESULT {
        const uint8_t* theStart = nullptr;
        uint32_t theLength = 0;
        if (inItem) Decoded(*inItem, &theStart, &theLength);
        return Bytes(out, theStart, theLength);
    });
}

HRESULT XField::get_Resource(VARIANT* outData) {
    return Member(FMX_HERE, outData, [&](const MultipartItem* inItem, VARIANT* out) -> HRESULT {
        MacForks theForks;
        if (inItem && MacForksOf(*inItem, &theForks)) return Bytes(out, theForks.resourceFork, theForks.resourceLength);
        return Bytes(out, nullptr, 0);
    });
}

HRESULT XField::get_RawFilePath(BSTR* outPath) {
    return Member(FMX_HERE, outPath, [](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        *out = CopyText(inItem ? inItem->rawPath.view() : std::u16string_view());
        return S_OK;
    });
}

HRESULT XField::get_RawFileName(BSTR* outName) {
    return Member(FMX_HERE, outName, [](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        *out = CopyText(inItem ? RawFileName(inItem->rawPath) : std::u16string_view());
        return S_OK;
    });
}

HRESULT XField::get_RawFileType(BSTR* outName) {
    return Member(FMX_HERE, outName, [](const MultipartItem* inItem, BSTR* out) -> HRESULT {
        *out = CopyText(inItem ? RawFileType(inItem->rawPath) : std::u16string_view());
        return S_OK;
    });
}

HRESULT XField::get_RawLength(LONG* outCount) {
    return Member(FMX_HERE, outCount, [](const MultipartItem* inItem, LONG* out) -> HRESULT {
        *out = inItem ? inItem->length : 0;
        return S_OK;
    });
}

HRESULT XField::get_RawData(VARIANT* outData) {
    return Member(FMX_HERE, outData, [](const MultipartItem* inItem, VARIANT* out) -> HRESULT {
        if (!inItem || !inItem->data || inItem->length <= 0) return Bytes(out, nullptr, 0);
        return Bytes(out, inItem->data, static_cast<uint32_t>(inItem->length));
    });
}

const ImageInfo& XField::Image(const MultipartItem* inItem) {
    if (!mImage.computed && inItem && inItem->data) {
        const uint8_t* theStart = nullptr;
        uint32_t theLength = 0;
        Decoded(*inItem, &theStart, &theLength);
        ExamineImage(theStart, theLength, &mImage);
    }
    return mImage;
}

HRESULT XField::get_ImageType(fmxImageType* outType) {
    return Member(FMX_HERE, outType, [&](const MultipartItem* inItem, fmxImageType* out) -> HRESULT {
        *out = Image(inItem).type;
        return S_OK;
    });
}

HRESULT XField::get_ImageWidth(LONG* outWidth) {
    return Member(FMX_HERE, outWidth, [&](const MultipartItem* inItem, LONG* out) -> HRESULT {
        *out = Image(inItem).width;
        return S_OK;
    });
}

HRESULT XField::get_ImageHeight(LONG* outHeight) {
    return Member(FMX_HERE, outHeight, [&](const MultipartItem* inItem, LONG* out) -> HRESULT {
        *out = Image(inItem).height;
        return S_OK;
    });
}

HRESULT XField::Save(BSTR inPath) {
    return Frame(FMX_HERE, [&]() -> HRESULT {
        if (!mForm) return E_POINTER;
        ErrorReport theReport;
        std::u16string thePath(inPath ? inPath : u"", SysStringLen(inPath));
        if (!mForm->AbsolutePathIsTrue()) {
            std::u16string theMapped;
            const HRESULT theMapping = mForm->Engine().MapPath(thePath.c_str(), &theMapped);
            if (FAILED(theMapping)) {
                theReport.AddMessage("Unable to convert virtual to physical path");
                theReport.SetResultCode(theMapping);
                return Finish(theReport, S_OK);
            }
            thePath = theMapped;
        }
        // A path that does not fit is refused, never cut: a cut name is
        // another file.
        if (!FMX_ASSERT(thePath.size() < 260, "XField")) {
            theReport.SetResultCode(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
            return Finish(theReport, S_OK);
        }
        const MultipartItem* theItem = Item();
        MacForks theForks;
        DWORD theError = 0;
        if (!theItem) {
            theError = WriteWholeBuffer(thePath.c_str(), nullptr, 0, mForm->Overwrite());
        } else if (MacForksOf(*theItem, &theForks)) {
            theError = SaveMacBinary(*theItem, theForks, thePath, mForm->Overwrite(),
                                     mForm->Streams() && VolumeKeepsStreams(thePath.c_str()));
        } else {
            const uint32_t theLength =
                theItem->data && theItem->length > 0 ? static_cast<uint32_t>(theItem->length) : 0;
            theError = WriteWholeBuffer(thePath.c_str(), theItem->data, theLength, mForm->Overwrite());
        }
        // Pages may read the thread's last error after Save: it stays the
        // save's error, 0 after a save that succeeded.
        SetLastError(theError);
        if (theError != 0) theReport.SetWin32Error(theError);
        return Finish(theReport, S_OK);
    });
}

DWORD XField::SaveMacBinary(const MultipartItem& inItem, const MacForks& inForks, const std::u16string& inPath,
                            bool inOverwrite, bool inStreams) {
    auto theStreamPath = [&inPath](const char16_t* inStream) {
        std::u16string theStream = inPath + inStream;
        if (!FMX_ASSERT(theStream.size() <= 275, "XField")) theStream.resize(275);
        return theStream;
    };
    DWORD theError = WriteWholeBuffer(inPath.c_str(), inForks.dataFork, inForks.dataLength, inOverwrite);
    const bool theWritten = theError == 0;
    // A fork that could not be written is reported even when the Finder
    // record after it is written: the page must not take it for saved.
    DWORD theResourceError = 0;
    if (theWritten && inStreams && inForks.resourceLength > 0 && inForks.resourceFork) {
        theResourceError = theError = WriteWholeBuffer(theStreamPath(u":AFP_Resource").c_str(), inForks.resourceFork,
                                                       inForks.resourceLength, inOverwrite);
    }
    if (theWritten && inStreams) {
        const std::u16string theInfoPath = theStreamPath(u":AFP_AfpInfo");
        std::string theExisting;
        uint8_t theRecord[kAfpInfoSize];
        if (ReadWholeFile(theInfoPath.c_str(), &theExisting) && theExisting.size() >= kAfpInfoSize) {
            std::memcpy(theRecord, theExisting.data(), kAfpInfoSize);
            UpdateAfpInfo(inItem.data, theRecord);
        } else {
            BuildAfpInfo(inItem.data, theRecord);
        }
        const DWORD theInfoError = WriteWholeBuffer(theInfoPath.c_str(), theRecord, kAfpInfoSize, inOverwrite);
        theError = theInfoError ? theInfoError : theResourceError;
    }
    return theError;
}

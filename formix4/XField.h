// One part of an upload: text, bytes, file names, types and saving.
#pragma once

#include "ComObject.h"
#include "Formix4.h"
#include "XForm.h"
#include "ImageInfo.h"
#include "MacBinary.h"

struct MultipartItem;

class XField final : public ComObject<IXField> {
public:
    explicit XField(IUnknown* inOuter) : ComObject(kIdentity, inOuter) {}
    static HRESULT CreateInstance(IUnknown* inOuter, REFIID riid, void** ppv) {
        return Create<XField>(inOuter, riid, ppv);
    }
    static constexpr ClassIdentity kIdentity{&CLSID_XField, &IID_IXField};

    // Binds the field to an item of a form; the field keeps the form alive.
    void Attach(XForm* inForm, int inGroup, int inItem);

    HRESULT get_Content(BSTR* outVal) override;
    HRESULT get_Name(BSTR* outCount) override;
    HRESULT get_Length(LONG* outCount) override;
    HRESULT get_FileExists(VARIANT_BOOL* outTruth) override;
    HRESULT get_SafeFileName(BSTR* outName) override;
    HRESULT get_FileType(BSTR* outType) override;
    HRESULT get_FileName(BSTR* outName) override;
    HRESULT get_MIMEType(BSTR* outType) override;
    HRESULT get_MacBinary(VARIANT_BOOL* outTruth) override;
    HRESULT get_Data(VARIANT* outData) override;
    HRESULT get_Resource(VARIANT* outData) override;
    HRESULT get_RawFilePath(BSTR* outPath) override;
    HRESULT get_RawFileName(BSTR* outName) override;
    HRESULT get_RawFileType(BSTR* outName) override;
    HRESULT get_RawLength(LONG* outCount) override;
    HRESULT get_RawData(VARIANT* outData) override;
    HRESULT get_ImageType(fmxImageType* outType) override;
    HRESULT get_ImageWidth(LONG* outWidth) override;
    HRESULT get_ImageHeight(LONG* outHeight) override;
    HRESULT Save(BSTR inPath) override;

protected:
    UINT CallCodePage() override;

private:
    // The item this field stands for, or null (no group or no item there).
    const MultipartItem* Item() const;
    // The MacBinary test of the item, run afresh each time.
    bool MacForksOf(const MultipartItem& inItem, MacForks* outForks) const;
    // The decoded bytes: the data fork of a MacBinary upload, else the item's bytes.
    void Decoded(const MultipartItem& inItem, const uint8_t** outStart, uint32_t* outLength) const;
    // Writes a MacBinary upload: the data fork, and with streams the resource
    // fork and the Finder record. Returns the last failing write's error (0
    // when all were written); a failed resource fork is never hidden by the
    // record.
    DWORD SaveMacBinary(const MultipartItem& inItem, const MacForks& inForks, const std::u16string& inPath,
                        bool inOverwrite, bool inStreams);
    // The image information, examined once the item has data, then cached.
    const ImageInfo& Image(const MultipartItem* inItem);
    // Runs a member: the out-argument and the form are checked, then
    // `produce` makes the value from the item (null when there is none).
    template <class T, class Produce>
    HRESULT Member(SourcePlace inPlace, T* outValue, Produce produce);

    FormReference mForm;
    int mGroup = -1;
    int mItem = -1;
    ImageInfo mImage;
};

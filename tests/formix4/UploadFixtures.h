// Uploads for the field tests: a form that has read a raw upload file, and
// MacBinary uploads built byte by byte.
#pragma once

#include <filesystem>
#include <string>

#include "MacBinaryFixture.h"
#include "TestSupport.h"
#include "XForm.h"
#include "platform/ComPtr.h"

// Writes `body` to `file` and has a new form read it (AbsolutePath on).
inline HRESULT ReadRawUpload(const std::filesystem::path& file, const std::string& body,
                             platform::ComPtr<IXForm>* outForm) {
    testing_support::WriteFile(file, body);
    HRESULT hr = XForm::CreateInstance(nullptr, IID_IXForm, outForm->putVoid());
    if (FAILED(hr)) return hr;
    (*outForm)->put_AbsolutePath(VARIANT_TRUE);
    platform::Bstr path(platform::codepage::Utf8ToUtf16(file.string()));
    return (*outForm)->Read(path.get());
}

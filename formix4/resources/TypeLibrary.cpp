// The type library "Formix4" 4.0: interfaces, members, dispatch ids,
// parameters and help strings, as scripts see them through IDispatch.
#include "resources/TypeLibrary.h"

#include <iterator>

#include "platform/TypeLibrary.h"

namespace {

using platform::typelib::CoclassInfo;
using platform::typelib::EnumInfo;
using platform::typelib::EnumValueInfo;
using platform::typelib::InterfaceInfo;
using platform::typelib::LibraryInfo;
using platform::typelib::MemberInfo;
using platform::typelib::ParamInfo;
using platform::typelib::thunkOf;

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT;
constexpr USHORT kOptionalWithDefault = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

// A property get with its retval, and the unnamed value of a property put.
#define RETVAL(name, vt) \
    { name, vt, kRetval, nullptr, nullptr }
#define PUT_VALUE(vt) \
    { nullptr, vt, kIn, nullptr, nullptr }
#define MEMBER(I, id, kind, name, method, params, flags, help) \
    { id, kind, name, params, static_cast<int>(std::size(params)), flags, help, thunkOf<&I::method> }
#define GET(I, id, name, method, params, help) MEMBER(I, id, INVOKE_PROPERTYGET, name, method, params, 0, help)
#define PUT(I, id, name, method, params, help) MEMBER(I, id, INVOKE_PROPERTYPUT, name, method, params, 0, help)

// ---- parameters shared by the collections --------------------------------------

const ParamInfo kNewEnum[] = {RETVAL("outEnum", VT_UNKNOWN)};
const ParamInfo kItem[] = {{"inIndex", VT_VARIANT, kOptional, nullptr, nullptr}, RETVAL("outVal", VT_VARIANT)};
const ParamInfo kCount[] = {RETVAL("outCount", VT_I4)};
const ParamInfo kPutLong[] = {PUT_VALUE(VT_I4)};
const ParamInfo kPutBool[] = {PUT_VALUE(VT_BOOL)};
const ParamInfo kPutString[] = {PUT_VALUE(VT_BSTR)};
const ParamInfo kInPath[] = {{"inPath", VT_BSTR, kIn, nullptr, nullptr}};

constexpr const char* kNewEnumHelp = "internal property _NewEnum";
constexpr const char* kItemHelp = "Returns a field referenced by name";
constexpr const char* kCountHelp = "The number of items in the field";

// ---- IXForm -----------------------------------------------------------------

const ParamInfo kFormID[] = {RETVAL("outID", VT_I4)};
const ParamInfo kFormTruth[] = {RETVAL("theTruth", VT_BOOL)};
const ParamInfo kFormBytes[] = {RETVAL("theBytes", VT_I4)};
const ParamInfo kFormName[] = {RETVAL("outName", VT_BSTR)};
const ParamInfo kFormCodePage[] = {RETVAL("outCodePage", VT_I4)};
const ParamInfo kFormStreams[] = {RETVAL("outStreams", VT_BOOL)};
const ParamInfo kFormMultipart[] = {RETVAL("outMP", VT_BOOL)};
const ParamInfo kSetUser[] = {{"inName", VT_BSTR, kIn, nullptr, nullptr},
                              {"inPassword", VT_BSTR, kIn, nullptr, nullptr},
                              {"inDomain", VT_BSTR, kOptionalWithDefault, u".", nullptr}};

const MemberInfo kFormMembers[] = {
    MEMBER(IXForm, DISPID_NEWENUM, INVOKE_PROPERTYGET, "_NewEnum", get__NewEnum, kNewEnum, FUNCFLAG_FRESTRICTED,
           kNewEnumHelp),
    GET(IXForm, 0, "Item", get_Item, kItem, kItemHelp),
    GET(IXForm, 1, "Count", get_Count, kCount, kCountHelp),
    GET(IXForm, 2, "ID", get_ID, kFormID, "A Unique ID for the Form"),
    PUT(IXForm, 2, "ID", put_ID, kPutLong, "A Unique ID for the Form"),
    GET(IXForm, 3, "AbsolutePath", get_AbsolutePath, kFormTruth, "Whether to use absolute or virtual paths"),
    PUT(IXForm, 3, "AbsolutePath", put_AbsolutePath, kPutBool, "Whether to use absolute or virtual paths"),
    GET(IXForm, 4, "Overwrite", get_Overwrite, kFormTruth, "Whether to automatically overwrite files"),
    PUT(IXForm, 4, "Overwrite", put_Overwrite, kPutBool, "Whether to automatically overwrite files"),
    GET(IXForm, 5, "MaxUploadSize", get_MaxUploadSize, kFormBytes, "The maximum number of bytes the form will accept"),
    PUT(IXForm, 5, "MaxUploadSize", put_MaxUploadSize, kPutLong, "The maximum number of bytes the form will accept"),
    GET(IXForm, 6, "User", get_User, kFormName, "The name of the user currently being impersonated"),
    GET(IXForm, 7, "Domain", get_Domain, kFormName, "The domain for the currently impersonated user"),
    GET(IXForm, 8, "CodePage", get_CodePage, kFormCodePage, "The Code Page to use"),
    PUT(IXForm, 8, "CodePage", put_CodePage, kPutLong, "The Code Page to use"),
    GET(IXForm, 9, "Streams", get_Streams, kFormStreams, "Save using NTFS streams"),
    PUT(IXForm, 9, "Streams", put_Streams, kPutBool, "Save using NTFS streams"),
    GET(IXForm, 10, "Multipart", get_Multipart, kFormMultipart, "Whether multipart data was submitted"),
    MEMBER(IXForm, 11, INVOKE_FUNC, "SetUser", SetUser, kSetUser, 0, "Lets you impersonate a different user"),
    MEMBER(IXForm, 12, INVOKE_FUNC, "Read", Read, kInPath, 0, "Lets you read raw upload data from disk"),
    MEMBER(IXForm, 13, INVOKE_FUNC, "Save", Save, kInPath, 0, "Lets you save raw upload data to disk"),
};

// ---- IXFields -----------------------------------------------------------------

const MemberInfo kFieldsMembers[] = {
    MEMBER(IXFields, DISPID_NEWENUM, INVOKE_PROPERTYGET, "_NewEnum", get__NewEnum, kNewEnum, FUNCFLAG_FRESTRICTED,
           kNewEnumHelp),
    GET(IXFields, 0, "Item", get_Item, kItem, kItemHelp),
    GET(IXFields, 1, "Count", get_Count, kCount, kCountHelp),
};

// ---- IXField ------------------------------------------------------------------

const ParamInfo kFieldVal[] = {RETVAL("outVal", VT_BSTR)};
const ParamInfo kFieldCountText[] = {RETVAL("outCount", VT_BSTR)};
const ParamInfo kFieldCount[] = {RETVAL("outCount", VT_I4)};
const ParamInfo kFieldTruth[] = {RETVAL("outTruth", VT_BOOL)};
const ParamInfo kFieldName[] = {RETVAL("outName", VT_BSTR)};
const ParamInfo kFieldType[] = {RETVAL("outType", VT_BSTR)};
const ParamInfo kFieldData[] = {RETVAL("outData", VT_VARIANT)};
const ParamInfo kFieldPath[] = {RETVAL("outPath", VT_BSTR)};
const ParamInfo kFieldImageType[] = {{"outType", VT_USERDEFINED, kRetval, nullptr, "fmxImageType"}};
const ParamInfo kFieldWidth[] = {RETVAL("outWidth", VT_I4)};
const ParamInfo kFieldHeight[] = {RETVAL("outHeight", VT_I4)};

const MemberInfo kFieldMembers[] = {
    GET(IXField, 0, "Content", get_Content, kFieldVal, "The decoded data as Text"),
    GET(IXField, 1, "Name", get_Name, kFieldCountText, "The HTML name of the field"),
    GET(IXField, 2, "Length", get_Length, kFieldCount, "The number of bytes of decoded data"),
    GET(IXField, 3, "FileExists", get_FileExists, kFieldTruth, "Whether the field contains an uploaded file"),
    GET(IXField, 4, "SafeFileName", get_SafeFileName, kFieldName, "The Windows safe filename"),
    GET(IXField, 5, "FileType", get_FileType, kFieldType, "The inferred file type extension of the uploaded file"),
    GET(IXField, 6, "FileName", get_FileName, kFieldName, "The URL safe filename"),
    GET(IXField, 7, "MIMEType", get_MIMEType, kFieldType, "The MIME type of the upload"),
    GET(IXField, 8, "MacBinary", get_MacBinary, kFieldTruth, "Whether the file was encoded in MacBinary"),
    GET(IXField, 9, "Data", get_Data, kFieldData, "The decoded data as Binary"),
    GET(IXField, 10, "Resource", get_Resource, kFieldData, "The decoded resource fork as Binary"),
    GET(IXField, 11, "RawFilePath", get_RawFilePath, kFieldPath, "The client file path of the uploaded file"),
    GET(IXField, 12, "RawFileName", get_RawFileName, kFieldName, "The original filename"),
    GET(IXField, 13, "RawFileType", get_RawFileType, kFieldName, "The file type extension of the uploaded file"),
    GET(IXField, 14, "RawLength", get_RawLength, kFieldCount, "The number of bytes of data in the raw field upload"),
    GET(IXField, 15, "RawData", get_RawData, kFieldData, "The raw data as Binary"),
    GET(IXField, 16, "ImageType", get_ImageType, kFieldImageType, "The type of any uploaded image"),
    GET(IXField, 17, "ImageWidth", get_ImageWidth, kFieldWidth, "The width of any uploaded image"),
    GET(IXField, 18, "ImageHeight", get_ImageHeight, kFieldHeight, "The height of any uploaded image"),
    MEMBER(IXField, 19, INVOKE_FUNC, "Save", Save, kInPath, 0, "Lets you save the field data to disk"),
};

// ---- IXProgress -----------------------------------------------------------------

const ParamInfo kProgressID[] = {RETVAL("outID", VT_I4)};
const ParamInfo kProgressNote[] = {RETVAL("outNote", VT_BSTR)};
const ParamInfo kProgressTruth[] = {RETVAL("outTruth", VT_BOOL)};
const ParamInfo kProgressBytes[] = {RETVAL("outBytes", VT_I4)};
const ParamInfo kProgressPercent[] = {RETVAL("outPercent", VT_I4)};
const ParamInfo kProgressSeconds[] = {RETVAL("outSeconds", VT_I4)};
const ParamInfo kProgressRate[] = {RETVAL("outBytesPS", VT_I4)};

const MemberInfo kProgressMembers[] = {
    GET(IXProgress, 1, "ID", get_ID, kProgressID, "A Unique ID for the Progress"),
    PUT(IXProgress, 1, "ID", put_ID, kPutLong, "A Unique ID for the Progress"),
    GET(IXProgress, 2, "Note", get_Note, kProgressNote, "Any notes"),
    PUT(IXProgress, 2, "Note", put_Note, kPutString, "Any notes"),
    GET(IXProgress, 3, "Started", get_Started, kProgressTruth, "Whether the transfer has been started"),
    GET(IXProgress, 4, "BytesTotal", get_BytesTotal, kProgressBytes, "The total number of bytes to be transferred"),
    GET(IXProgress, 5, "BytesDone", get_BytesDone, kProgressBytes, "The number of bytes transferred so far"),
    GET(IXProgress, 6, "PercentDone", get_PercentDone, kProgressPercent, "The percentage of the transfer completed"),
    GET(IXProgress, 7, "ElapsedSeconds", get_ElapsedSeconds, kProgressSeconds,
        "The number of seconds the transfer has been in progress"),
    GET(IXProgress, 8, "SecondsLeft", get_SecondsLeft, kProgressSeconds,
        "The estimated number of seconds the transfer has to go"),
    GET(IXProgress, 9, "BytesPerSecond", get_BytesPerSecond, kProgressRate,
        "The number of bytes transferred per second"),
};

#define INTERFACE(var, name, iid, help, members) \
    const InterfaceInfo var = {name, &iid, help, members, static_cast<int>(std::size(members))}

INTERFACE(kIXForm, "IXForm", IID_IXForm, "IXForm Interface", kFormMembers);
INTERFACE(kIXField, "IXField", IID_IXField, "IXField Interface", kFieldMembers);
INTERFACE(kIXFields, "IXFields", IID_IXFields, "IXFields Interface", kFieldsMembers);
INTERFACE(kIXProgress, "IXProgress", IID_IXProgress, "IXProgress Interface", kProgressMembers);

const InterfaceInfo* const kInterfaces[] = {&kIXForm, &kIXField, &kIXFields, &kIXProgress};

const CoclassInfo kCoclasses[] = {
    {"XForm", &CLSID_XForm, "XForm Class", &kIXForm},
    {"XField", &CLSID_XField, "XField Class", &kIXField},
    {"XFields", &CLSID_XFields, "XFields Class", &kIXFields},
    {"XProgress", &CLSID_XProgress, "XProgress Class", &kIXProgress},
};

const EnumValueInfo kImageTypes[] = {
    {"fmxUnknown", fmxUnknown}, {"fmxJPEGgray", fmxJPEGgray}, {"fmxJPEG", fmxJPEG}, {"fmxJPEGcmyk", fmxJPEGcmyk},
    {"fmxGIF", fmxGIF},         {"fmxPNG", fmxPNG},           {"fmxBMP", fmxBMP},
};
const EnumInfo kEnums[] = {{"fmxImageType", kImageTypes, static_cast<int>(std::size(kImageTypes))}};

const LibraryInfo kLibrary = {
    "Formix4",
    &LIBID_Formix4,
    "Formix ASP Extension",
    4,
    0,
    kInterfaces,
    static_cast<int>(std::size(kInterfaces)),
    kCoclasses,
    static_cast<int>(std::size(kCoclasses)),
    kEnums,
    static_cast<int>(std::size(kEnums)),
};

}  // namespace

const platform::typelib::LibraryInfo& Formix4TypeLibrary() { return kLibrary; }

// The module's type-library resource, found by the platform's LoadTypeLib.
extern "C" __attribute__((visibility("default"))) const platform::typelib::LibraryInfo* PlatformGetTypeLibrary(
    int inResourceId) {
    return inResourceId == 1 ? &kLibrary : nullptr;
}

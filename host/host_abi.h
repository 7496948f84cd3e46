// Our own declarations of the paint program's filter plug-in interface: the filter
// record, the procedure tables it points at, and the published constants.
//
// Layout rules that matter for binary compatibility:
//  - The filter record (and the big-document block) uses 4-byte packing on every
//    target: on x64 a pointer may sit on a 4-byte boundary (abortProc is at 4).
//  - Every procedure table, the pixel map and the descriptor block use natural
//    alignment: on x64 the first procedure after the two 16-bit header fields is at 8.
//  - Every callback is cdecl on 32-bit Windows (the host's default convention).
//  - One-byte Boolean results come back in AL only, so they are declared 8-bit.
// The static assertions at the end pin the documented offsets on both Windows targets.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define HOSTCALL __cdecl
#else
#define HOSTCALL
#endif

typedef unsigned char HostBoolean;  // 0 false, non-zero true
typedef int16_t OSErr;
typedef uint32_t OSType;
typedef uint32_t DescriptorKeyID;
typedef uint32_t DescriptorTypeID;
typedef uint32_t DescriptorEnumID;
typedef uint32_t DescriptorEnumTypeID;
typedef uint32_t DescriptorUnitID;
typedef uint32_t DescriptorClassID;
typedef int32_t Fixed;
typedef char* Ptr;
typedef char** Handle;
typedef void* BufferID;  // pointer-sized: x64 hosts hand out real addresses
typedef void* PIReadDescriptor;
typedef void* PIWriteDescriptor;

// A four-character code as the host stores it: first character most significant.
constexpr OSType FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

struct HostPoint {
  int16_t v, h;
};
struct HostRect {  // 16-bit rectangle; bottom and right exclusive
  int16_t top, left, bottom, right;
};
struct VPoint {
  int32_t v, h;
};
struct VRect {  // 32-bit rectangle; bottom and right exclusive
  int32_t top, left, bottom, right;
};
struct HostRGBColor {  // 16 significant bits per channel
  uint16_t red, green, blue;
};
typedef uint8_t FilterColor[4];
struct PlugInMonitor {
  Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};

// ---- selectors and results -------------------------------------------------------
enum : int16_t {
  filterSelectorAbout = 0,
  filterSelectorParameters = 1,
  filterSelectorPrepare = 2,
  filterSelectorStart = 3,
  filterSelectorContinue = 4,
  filterSelectorFinish = 5,
};

enum : int16_t {
  noErr = 0,
  coercedParamErr = 2,
  readErr = -19,
  writErr = -20,
  eofErr = -39,
  paramErr = -50,
  memFullErr = -108,
  nilHandleErr = -109,
  userCanceledErr = -128,
  filterBadParameters = -30100,
  filterBadMode = -30101,
  errPlugInHostInsufficient = -30900,
};

enum : int16_t {
  plugInModeBitmap = 0,
  plugInModeGrayScale = 1,
  plugInModeIndexedColor = 2,
  plugInModeRGBColor = 3,
  plugInModeCMYKColor = 4,
  plugInModeHSLColor = 5,
  plugInModeHSBColor = 6,
  plugInModeMultichannel = 7,
  plugInModeDuotone = 8,
  plugInModeLabColor = 9,
  plugInModeGray16 = 10,
  plugInModeRGB48 = 11,
  plugInModeLab48 = 12,
  plugInModeCMYK64 = 13,
  plugInModeDeepMultichannel = 14,
  plugInModeDuotone16 = 15,
  plugInModeRGB96 = 16,
  plugInModeGray32 = 17,
};

enum : int16_t {
  filterCaseUnsupported = -1,
  filterCaseNotSet = 0,
  filterCaseFlatImageNoSelection = 1,
  filterCaseFlatImageWithSelection = 2,
  filterCaseFloatingSelection = 3,
  filterCaseEditableTransparencyNoSelection = 4,
  filterCaseEditableTransparencyWithSelection = 5,
  filterCaseProtectedTransparencyNoSelection = 6,
  filterCaseProtectedTransparencyWithSelection = 7,
};

enum : int16_t {
  plugInDialogDontDisplay = 0,
  plugInDialogDisplay = 1,
  plugInDialogSilent = 2,
};
enum : int16_t {
  plugInDialogOptional = 0,
  plugInDialogRequired = 1,
  plugInDialogNone = 2,
};

// Padding requests for inputPadding / outputPadding / maskPadding.
enum : int16_t {
  plugInWantsEdgeReplication = -1,
  plugInDoesNotWantPadding = -2,
  plugInWantsErrorOnBoundsException = -3,
};

constexpr OSType kHostSigPhotoshop = FourCC("8BIM");
constexpr OSType kHostSigPSP8 = FourCC("PSP8");
constexpr OSType kHostSigPSP9 = FourCC("PSP9");

constexpr OSType typeInteger = FourCC("long");
constexpr OSType typeFloat = FourCC("doub");
constexpr OSType typeBoolean = FourCC("bool");
constexpr OSType typeText = FourCC("TEXT");
constexpr OSType typeEnumerated = FourCC("enum");
constexpr OSType typeNull = FourCC("null");

// getKeyProc flag bits
constexpr int32_t kDescFlagEnumerated = 0x00002000;
constexpr int32_t kDescFlagList = 0x00004000;
constexpr int32_t kDescFlagOptional = 0x00008000;

// ---- procedure tables (natural alignment) ----------------------------------------
typedef HostBoolean(HOSTCALL* TestAbortProc)(void);
typedef void(HOSTCALL* ProgressProc)(int32_t done, int32_t total);
typedef void(HOSTCALL* HostProc)(int16_t selector, intptr_t* data);
typedef void(HOSTCALL* ProcessEventProc)(void* event);
typedef OSErr(HOSTCALL* AdvanceStateProc)(void);
typedef OSErr(HOSTCALL* GetPropertyProc)(OSType signature, OSType key, int32_t index,
                                          intptr_t* simpleProperty, Handle* complexProperty);

struct PSPixelMask {
  PSPixelMask* next;
  void* maskData;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t maskDescription;
};

struct PSPixelMap {
  int32_t version;
  VRect bounds;
  int32_t imageMode;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t planeBytes;
  void* baseAddr;
  PSPixelMask* mat;
  PSPixelMask* masks;
  int32_t maskPhaseRow;
  int32_t maskPhaseCol;
  void* pixelOverlays;          // version 2
  uint32_t colorManagementOptions;  // version 2
  int16_t depth;                // version 3
};

typedef OSErr(HOSTCALL* DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect,
                                           int32_t dstRow, int32_t dstCol,
                                           intptr_t platformContext);

struct ColorServicesInfo {
  int32_t infoSize;
  int16_t selector;
  int16_t sourceSpace;
  int16_t resultSpace;
  HostBoolean resultGamutInfoValid;
  HostBoolean resultInGamut;
  void* reservedSourceSpaceInfo;
  void* reservedResultSpaceInfo;
  int16_t colorComponents[4];
  void* reserved;
  union {
    unsigned char* pickerPrompt;
    HostPoint* globalSamplePoint;
    int32_t specialColorID;
  } selectorParameter;
};
typedef OSErr(HOSTCALL* ColorServicesProc)(ColorServicesInfo* info);

typedef Handle(HOSTCALL* NewPIHandleProc)(int32_t size);
typedef void(HOSTCALL* DisposePIHandleProc)(Handle h);
typedef int32_t(HOSTCALL* GetPIHandleSizeProc)(Handle h);
typedef OSErr(HOSTCALL* SetPIHandleSizeProc)(Handle h, int32_t newSize);
typedef Ptr(HOSTCALL* LockPIHandleProc)(Handle h, HostBoolean moveHigh);
typedef void(HOSTCALL* UnlockPIHandleProc)(Handle h);
typedef void(HOSTCALL* RecoverSpaceProc)(int32_t size);
typedef void(HOSTCALL* DisposeRegularHandleProc)(Handle h);

struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  NewPIHandleProc newProc;
  DisposePIHandleProc disposeProc;
  GetPIHandleSizeProc getSizeProc;
  SetPIHandleSizeProc setSizeProc;
  LockPIHandleProc lockProc;
  UnlockPIHandleProc unlockProc;
  RecoverSpaceProc recoverSpaceProc;
  DisposeRegularHandleProc disposeRegularHandleProc;
};
constexpr int16_t kCurrentHandleProcsVersion = 1;

typedef OSErr(HOSTCALL* AllocateBufferProc)(int32_t size, BufferID* bufferID);
typedef Ptr(HOSTCALL* LockBufferProc)(BufferID bufferID, HostBoolean moveHigh);
typedef void(HOSTCALL* UnlockBufferProc)(BufferID bufferID);
typedef void(HOSTCALL* FreeBufferProc)(BufferID bufferID);
typedef int32_t(HOSTCALL* BufferSpaceProc)(void);
typedef OSErr(HOSTCALL* ReserveBufferSpaceProc)(int32_t size);
typedef OSErr(HOSTCALL* AllocateBuffer64Proc)(int64_t size, BufferID* bufferID);
typedef int64_t(HOSTCALL* BufferSpace64Proc)(void);

struct BufferProcs {
  int16_t bufferProcsVersion;
  int16_t numBufferProcs;
  AllocateBufferProc allocateProc;
  LockBufferProc lockProc;
  UnlockBufferProc unlockProc;
  FreeBufferProc freeProc;
  BufferSpaceProc spaceProc;
  ReserveBufferSpaceProc reserveProc;
  AllocateBuffer64Proc allocateProc64;
  BufferSpace64Proc spaceProc64;
};
constexpr int16_t kCurrentBufferProcsVersion = 2;

// ---- scripting descriptors ---------------------------------------------------------
struct PIDescriptorSimpleReference {
  DescriptorTypeID desiredClass;
  DescriptorKeyID keyForm;
  struct {
    unsigned char name[256];
    int32_t index;
    DescriptorTypeID type;
    DescriptorEnumID value;
  } keyData;
};

typedef PIReadDescriptor(HOSTCALL* OpenReadDescriptorProc)(Handle descriptor,
                                                           DescriptorKeyID* keyArray);
typedef OSErr(HOSTCALL* CloseReadDescriptorProc)(PIReadDescriptor rd);
typedef HostBoolean(HOSTCALL* GetKeyProc)(PIReadDescriptor rd, DescriptorKeyID* key,
                                          DescriptorTypeID* type, int32_t* flags);
typedef OSErr(HOSTCALL* GetIntegerProc)(PIReadDescriptor rd, int32_t* value);
typedef OSErr(HOSTCALL* GetFloatProc)(PIReadDescriptor rd, double* value);
typedef OSErr(HOSTCALL* GetUnitFloatProc)(PIReadDescriptor rd, DescriptorUnitID* unit,
                                          double* value);
typedef OSErr(HOSTCALL* GetBooleanProc)(PIReadDescriptor rd, HostBoolean* value);
typedef OSErr(HOSTCALL* GetTextProc)(PIReadDescriptor rd, Handle* value);
typedef OSErr(HOSTCALL* GetAliasProc)(PIReadDescriptor rd, Handle* value);
typedef OSErr(HOSTCALL* GetEnumeratedProc)(PIReadDescriptor rd, DescriptorEnumID* value);
typedef OSErr(HOSTCALL* GetClassProc)(PIReadDescriptor rd, DescriptorClassID* value);
typedef OSErr(HOSTCALL* GetSimpleReferenceProc)(PIReadDescriptor rd,
                                                PIDescriptorSimpleReference* value);
typedef OSErr(HOSTCALL* GetObjectProc)(PIReadDescriptor rd, DescriptorClassID* type,
                                       Handle* value);
typedef OSErr(HOSTCALL* GetCountProc)(PIReadDescriptor rd, uint32_t* value);
typedef OSErr(HOSTCALL* GetStringProc)(PIReadDescriptor rd, unsigned char* value);
typedef OSErr(HOSTCALL* GetPinnedIntegerProc)(PIReadDescriptor rd, int32_t min, int32_t max,
                                              int32_t* value);
typedef OSErr(HOSTCALL* GetPinnedFloatProc)(PIReadDescriptor rd, double* min, double* max,
                                            double* value);
typedef OSErr(HOSTCALL* GetPinnedUnitFloatProc)(PIReadDescriptor rd, double* min,
                                                double* max, DescriptorUnitID* unit,
                                                double* value);

struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  OpenReadDescriptorProc openReadDescriptorProc;
  CloseReadDescriptorProc closeReadDescriptorProc;
  GetKeyProc getKeyProc;
  GetIntegerProc getIntegerProc;
  GetFloatProc getFloatProc;
  GetUnitFloatProc getUnitFloatProc;
  GetBooleanProc getBooleanProc;
  GetTextProc getTextProc;
  GetAliasProc getAliasProc;
  GetEnumeratedProc getEnumeratedProc;
  GetClassProc getClassProc;
  GetSimpleReferenceProc getSimpleReferenceProc;
  GetObjectProc getObjectProc;
  GetCountProc getCountProc;
  GetStringProc getStringProc;
  GetPinnedIntegerProc getPinnedIntegerProc;
  GetPinnedFloatProc getPinnedFloatProc;
  GetPinnedUnitFloatProc getPinnedUnitFloatProc;
};
constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;

typedef PIWriteDescriptor(HOSTCALL* OpenWriteDescriptorProc)(void);
typedef OSErr(HOSTCALL* CloseWriteDescriptorProc)(PIWriteDescriptor wd, Handle* newDescriptor);
typedef OSErr(HOSTCALL* PutIntegerProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                        int32_t value);
typedef OSErr(HOSTCALL* PutFloatProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                      const double* value);
typedef OSErr(HOSTCALL* PutUnitFloatProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                          DescriptorUnitID unit, const double* value);
typedef OSErr(HOSTCALL* PutBooleanProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                        HostBoolean value);
typedef OSErr(HOSTCALL* PutTextProc)(PIWriteDescriptor wd, DescriptorKeyID key, Handle value);
typedef OSErr(HOSTCALL* PutAliasProc)(PIWriteDescriptor wd, DescriptorKeyID key, Handle value);
typedef OSErr(HOSTCALL* PutEnumeratedProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                           DescriptorTypeID type, DescriptorEnumID value);
typedef OSErr(HOSTCALL* PutClassProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                      DescriptorClassID value);
typedef OSErr(HOSTCALL* PutSimpleReferenceProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                                const PIDescriptorSimpleReference* value);
typedef OSErr(HOSTCALL* PutObjectProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                       DescriptorClassID type, Handle value);
typedef OSErr(HOSTCALL* PutCountProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                      uint32_t count);
typedef OSErr(HOSTCALL* PutStringProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                       const unsigned char* value);
typedef OSErr(HOSTCALL* PutScopedClassProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                            DescriptorClassID value);
typedef OSErr(HOSTCALL* PutScopedObjectProc)(PIWriteDescriptor wd, DescriptorKeyID key,
                                             DescriptorClassID type, Handle value);

struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  OpenWriteDescriptorProc openWriteDescriptorProc;
  CloseWriteDescriptorProc closeWriteDescriptorProc;
  PutIntegerProc putIntegerProc;
  PutFloatProc putFloatProc;
  PutUnitFloatProc putUnitFloatProc;
  PutBooleanProc putBooleanProc;
  PutTextProc putTextProc;
  PutAliasProc putAliasProc;
  PutEnumeratedProc putEnumeratedProc;
  PutClassProc putClassProc;
  PutSimpleReferenceProc putSimpleReferenceProc;
  PutObjectProc putObjectProc;
  PutCountProc putCountProc;
  PutStringProc putStringProc;
  PutScopedClassProc putScopedClassProc;
  PutScopedObjectProc putScopedObjectProc;
};
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;

struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;
  int16_t recordInfo;
  Handle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};
constexpr int16_t kCurrentDescriptorParametersVersion = 0;

struct PlatformData {
  intptr_t hwnd;  // the window that should own dialogs
};

struct AboutRecord {
  PlatformData* platformData;
  void* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

// ---- the filter record (4-byte packing) --------------------------------------------
#pragma pack(push, 4)
struct BigDocumentStruct {
  int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};

struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  HostPoint imageSize;
  int16_t planes;
  HostRect filterRect;
  HostRGBColor background;
  HostRGBColor foreground;
  int32_t maxSpace;
  int32_t bufferSpace;
  HostRect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  HostRect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  HostBoolean isFloating;
  HostBoolean haveMask;
  HostBoolean autoMask;
  HostRect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  HostPoint floatCoord;
  HostPoint wholeSize;
  PlugInMonitor monitor;
  PlatformData* platformData;
  BufferProcs* bufferProcs;
  void* resourceProcs;
  ProcessEventProc processEvent;
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;
  HostBoolean supportsDummyChannels;
  HostBoolean supportsAlternateLayouts;
  int16_t wantLayout;
  int16_t filterCase;
  int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  HostBoolean supportsAbsolute;
  HostBoolean wantsAbsolute;
  GetPropertyProc getPropertyObsolete;
  HostBoolean cannotUndo;
  HostBoolean supportsPadding;
  int16_t inputPadding;
  int16_t outputPadding;
  int16_t maskPadding;
  char samplingSupport;
  char reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  ColorServicesProc colorServices;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inLayerMasks;
  int16_t inInvertedLayerMasks;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outLayerMasks;
  int16_t outInvertedLayerMasks;
  int16_t outNonLayerPlanes;
  int16_t absLayerPlanes;
  int16_t absTransparencyMask;
  int16_t absLayerMasks;
  int16_t absInvertedLayerMasks;
  int16_t absNonLayerPlanes;
  int16_t inPreDummyPlanes;
  int16_t inPostDummyPlanes;
  int16_t outPreDummyPlanes;
  int16_t outPostDummyPlanes;
  int32_t inColumnBytes;
  int32_t inPlaneBytes;
  int32_t outColumnBytes;
  int32_t outPlaneBytes;
  void* imageServicesProcs;
  void* propertyProcs;
  int16_t inTileHeight;
  int16_t inTileWidth;
  HostPoint inTileOrigin;
  int16_t absTileHeight;
  int16_t absTileWidth;
  HostPoint absTileOrigin;
  int16_t outTileHeight;
  int16_t outTileWidth;
  HostPoint outTileOrigin;
  int16_t maskTileHeight;
  int16_t maskTileWidth;
  HostPoint maskTileOrigin;
  PIDescriptorParameters* descriptorParameters;
  unsigned char* errorString;
  void* channelPortProcs;
  void* documentInfo;
  void* sSPBasic;
  void* plugInRef;
  int32_t depth;
  Handle iCCprofileData;
  int32_t iCCprofileSize;
  int32_t canUseICCProfiles;
  int32_t hasImageScrap;
  BigDocumentStruct* bigDocumentData;
  PIDescriptorParameters* input3DScene;
  PIDescriptorParameters* output3DScene;
  HostBoolean createNewLayer;
  Handle iCCWorkingProfileData;
  int32_t iCCWorkingProfileSize;
  int64_t bufferSpace64;
  int64_t maxSpace64;
  char reserved[46];
};
#pragma pack(pop)

// The entry point every module exports by this undecorated name.
typedef void(HOSTCALL* PluginEntryProc)(int16_t selector, void* parameterBlock,
                                        intptr_t* data, int16_t* result);

// ---- layout checks -------------------------------------------------------------
#define HOST_ABI_OFFSET(type, field, x86, x64) \
  static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (x86) : (x64)), \
                #type "." #field " offset")
#define HOST_ABI_SIZE(type, x86, x64) \
  static_assert(sizeof(type) == (sizeof(void*) == 4 ? (x86) : (x64)), #type " size")

HOST_ABI_OFFSET(FilterRecord, abortProc, 4, 4);
HOST_ABI_OFFSET(FilterRecord, progressProc, 8, 12);
HOST_ABI_OFFSET(FilterRecord, parameters, 12, 20);
HOST_ABI_OFFSET(FilterRecord, imageSize, 16, 28);
HOST_ABI_OFFSET(FilterRecord, planes, 20, 32);
HOST_ABI_OFFSET(FilterRecord, filterRect, 22, 34);
HOST_ABI_OFFSET(FilterRecord, background, 30, 42);
HOST_ABI_OFFSET(FilterRecord, foreground, 36, 48);
HOST_ABI_OFFSET(FilterRecord, maxSpace, 44, 56);
HOST_ABI_OFFSET(FilterRecord, bufferSpace, 48, 60);
HOST_ABI_OFFSET(FilterRecord, inRect, 52, 64);
HOST_ABI_OFFSET(FilterRecord, inLoPlane, 60, 72);
HOST_ABI_OFFSET(FilterRecord, outRect, 64, 76);
HOST_ABI_OFFSET(FilterRecord, outLoPlane, 72, 84);
HOST_ABI_OFFSET(FilterRecord, inData, 76, 88);
HOST_ABI_OFFSET(FilterRecord, inRowBytes, 80, 96);
HOST_ABI_OFFSET(FilterRecord, outData, 84, 100);
HOST_ABI_OFFSET(FilterRecord, outRowBytes, 88, 108);
HOST_ABI_OFFSET(FilterRecord, isFloating, 92, 112);
HOST_ABI_OFFSET(FilterRecord, haveMask, 93, 113);
HOST_ABI_OFFSET(FilterRecord, maskRect, 96, 116);
HOST_ABI_OFFSET(FilterRecord, maskData, 104, 124);
HOST_ABI_OFFSET(FilterRecord, maskRowBytes, 108, 132);
HOST_ABI_OFFSET(FilterRecord, backColor, 112, 136);
HOST_ABI_OFFSET(FilterRecord, foreColor, 116, 140);
HOST_ABI_OFFSET(FilterRecord, hostSig, 120, 144);
HOST_ABI_OFFSET(FilterRecord, hostProc, 124, 148);
HOST_ABI_OFFSET(FilterRecord, imageMode, 128, 156);
HOST_ABI_OFFSET(FilterRecord, imageHRes, 132, 160);
HOST_ABI_OFFSET(FilterRecord, floatCoord, 140, 168);
HOST_ABI_OFFSET(FilterRecord, wholeSize, 144, 172);
HOST_ABI_OFFSET(FilterRecord, monitor, 148, 176);
HOST_ABI_OFFSET(FilterRecord, platformData, 188, 216);
HOST_ABI_OFFSET(FilterRecord, bufferProcs, 192, 224);
HOST_ABI_OFFSET(FilterRecord, resourceProcs, 196, 232);
HOST_ABI_OFFSET(FilterRecord, displayPixels, 204, 248);
HOST_ABI_OFFSET(FilterRecord, handleProcs, 208, 256);
HOST_ABI_OFFSET(FilterRecord, supportsDummyChannels, 212, 264);
HOST_ABI_OFFSET(FilterRecord, wantLayout, 214, 266);
HOST_ABI_OFFSET(FilterRecord, filterCase, 216, 268);
HOST_ABI_OFFSET(FilterRecord, dummyPlaneValue, 218, 270);
HOST_ABI_OFFSET(FilterRecord, premiereHook, 220, 272);
HOST_ABI_OFFSET(FilterRecord, advanceState, 224, 280);
HOST_ABI_OFFSET(FilterRecord, supportsAbsolute, 228, 288);
HOST_ABI_OFFSET(FilterRecord, getPropertyObsolete, 232, 292);
HOST_ABI_OFFSET(FilterRecord, cannotUndo, 236, 300);
HOST_ABI_OFFSET(FilterRecord, supportsPadding, 237, 301);
HOST_ABI_OFFSET(FilterRecord, inputPadding, 238, 302);
HOST_ABI_OFFSET(FilterRecord, outputPadding, 240, 304);
HOST_ABI_OFFSET(FilterRecord, maskPadding, 242, 306);
HOST_ABI_OFFSET(FilterRecord, samplingSupport, 244, 308);
HOST_ABI_OFFSET(FilterRecord, inputRate, 248, 312);
HOST_ABI_OFFSET(FilterRecord, maskRate, 252, 316);
HOST_ABI_OFFSET(FilterRecord, colorServices, 256, 320);
HOST_ABI_OFFSET(FilterRecord, inLayerPlanes, 260, 328);
HOST_ABI_OFFSET(FilterRecord, inPreDummyPlanes, 290, 358);
HOST_ABI_OFFSET(FilterRecord, outPostDummyPlanes, 296, 364);
HOST_ABI_OFFSET(FilterRecord, inColumnBytes, 300, 368);
HOST_ABI_OFFSET(FilterRecord, outPlaneBytes, 312, 380);
HOST_ABI_OFFSET(FilterRecord, imageServicesProcs, 316, 384);
HOST_ABI_OFFSET(FilterRecord, propertyProcs, 320, 392);
HOST_ABI_OFFSET(FilterRecord, inTileHeight, 324, 400);
HOST_ABI_OFFSET(FilterRecord, maskTileOrigin, 352, 428);
HOST_ABI_OFFSET(FilterRecord, descriptorParameters, 356, 432);
HOST_ABI_OFFSET(FilterRecord, errorString, 360, 440);
HOST_ABI_OFFSET(FilterRecord, channelPortProcs, 364, 448);
HOST_ABI_OFFSET(FilterRecord, documentInfo, 368, 456);
HOST_ABI_OFFSET(FilterRecord, sSPBasic, 372, 464);
HOST_ABI_OFFSET(FilterRecord, plugInRef, 376, 472);
HOST_ABI_OFFSET(FilterRecord, depth, 380, 480);
HOST_ABI_OFFSET(FilterRecord, iCCprofileData, 384, 484);
HOST_ABI_OFFSET(FilterRecord, iCCprofileSize, 388, 492);
HOST_ABI_OFFSET(FilterRecord, canUseICCProfiles, 392, 496);
HOST_ABI_OFFSET(FilterRecord, hasImageScrap, 396, 500);
HOST_ABI_OFFSET(FilterRecord, bigDocumentData, 400, 504);
HOST_ABI_OFFSET(FilterRecord, input3DScene, 404, 512);
HOST_ABI_OFFSET(FilterRecord, output3DScene, 408, 520);
HOST_ABI_OFFSET(FilterRecord, createNewLayer, 412, 528);
HOST_ABI_OFFSET(FilterRecord, iCCWorkingProfileData, 416, 532);
HOST_ABI_OFFSET(FilterRecord, iCCWorkingProfileSize, 420, 540);
HOST_ABI_OFFSET(FilterRecord, bufferSpace64, 424, 544);
HOST_ABI_OFFSET(FilterRecord, maxSpace64, 432, 552);
HOST_ABI_OFFSET(FilterRecord, reserved, 440, 560);
HOST_ABI_SIZE(FilterRecord, 488, 608);

HOST_ABI_OFFSET(BigDocumentStruct, imageSize32, 4, 4);
HOST_ABI_OFFSET(BigDocumentStruct, filterRect32, 12, 12);
HOST_ABI_OFFSET(BigDocumentStruct, inRect32, 28, 28);
HOST_ABI_OFFSET(BigDocumentStruct, outRect32, 44, 44);
HOST_ABI_OFFSET(BigDocumentStruct, maskRect32, 60, 60);
HOST_ABI_OFFSET(BigDocumentStruct, floatCoord32, 76, 76);
HOST_ABI_OFFSET(BigDocumentStruct, wholeSize32, 84, 84);
HOST_ABI_SIZE(BigDocumentStruct, 92, 92);

HOST_ABI_OFFSET(HandleProcs, newProc, 4, 8);
HOST_ABI_OFFSET(HandleProcs, lockProc, 20, 40);
HOST_ABI_OFFSET(HandleProcs, unlockProc, 24, 48);
HOST_ABI_OFFSET(HandleProcs, disposeRegularHandleProc, 32, 64);
HOST_ABI_SIZE(HandleProcs, 36, 72);

HOST_ABI_OFFSET(BufferProcs, allocateProc, 4, 8);
HOST_ABI_OFFSET(BufferProcs, spaceProc, 20, 40);
HOST_ABI_OFFSET(BufferProcs, spaceProc64, 32, 64);

HOST_ABI_OFFSET(PIDescriptorParameters, descriptor, 8, 8);
HOST_ABI_OFFSET(PIDescriptorParameters, writeDescriptorProcs, 12, 16);
HOST_ABI_OFFSET(PIDescriptorParameters, readDescriptorProcs, 16, 24);
HOST_ABI_SIZE(PIDescriptorParameters, 20, 32);

HOST_ABI_OFFSET(ReadDescriptorProcs, openReadDescriptorProc, 4, 8);
HOST_ABI_OFFSET(ReadDescriptorProcs, getEnumeratedProc, 40, 80);
HOST_ABI_OFFSET(ReadDescriptorProcs, getPinnedUnitFloatProc, 72, 144);
HOST_ABI_SIZE(ReadDescriptorProcs, 76, 152);
HOST_ABI_OFFSET(WriteDescriptorProcs, putEnumeratedProc, 36, 72);
HOST_ABI_OFFSET(WriteDescriptorProcs, putScopedObjectProc, 64, 128);
HOST_ABI_SIZE(WriteDescriptorProcs, 68, 136);
HOST_ABI_SIZE(PIDescriptorSimpleReference, 276, 276);

HOST_ABI_OFFSET(PSPixelMap, imageMode, 20, 20);
HOST_ABI_OFFSET(PSPixelMap, baseAddr, 36, 40);
HOST_ABI_OFFSET(PSPixelMap, mat, 40, 48);
HOST_ABI_OFFSET(PSPixelMap, maskPhaseRow, 48, 64);
HOST_ABI_OFFSET(PSPixelMap, pixelOverlays, 56, 72);
HOST_ABI_OFFSET(PSPixelMap, colorManagementOptions, 60, 80);
HOST_ABI_OFFSET(PSPixelMap, depth, 64, 84);
HOST_ABI_SIZE(PSPixelMap, 68, 88);
HOST_ABI_SIZE(PSPixelMask, 20, 32);
HOST_ABI_OFFSET(ColorServicesInfo, reservedSourceSpaceInfo, 12, 16);
HOST_ABI_OFFSET(ColorServicesInfo, colorComponents, 20, 32);
HOST_ABI_OFFSET(ColorServicesInfo, selectorParameter, 32, 48);
HOST_ABI_SIZE(ColorServicesInfo, 36, 56);
HOST_ABI_SIZE(AboutRecord, 256, 272);

#undef HOST_ABI_OFFSET
#undef HOST_ABI_SIZE

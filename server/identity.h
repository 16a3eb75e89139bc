#pragma once

// The component's identity on the bus and in its registration record. Chosen once; the type library
// (OrvexKelPostJob.xml) carries the same values in its annotations.

namespace Orvex::Identity {

inline constexpr char ServiceName[] = "OrvexKelPostJob.PostJob"; // the ProgID
inline constexpr char ProgId[] = "OrvexKelPostJob.PostJob";
inline constexpr char ClassName[] = "PostJob";
inline constexpr char ExecutableName[] = "OrvexKelPostJob";

inline constexpr char ClassFactoryPath[] = "/OrvexKelPostJob/PostJob";
// Objects live at ClassFactoryPath + "/" + a serial number counted from 1.
inline constexpr char ObjectPathPrefix[] = "/OrvexKelPostJob/PostJob/";

inline constexpr char ClassFactoryInterface[] = "OrvexKelPostJob.ClassFactory";
inline constexpr char PostJobInterface[] = "OrvexKelPostJob._PostJob";
inline constexpr char EarlierPostJobInterface[] = "OrvexKelPostJob.PostJob___v0";
inline constexpr char DispatchInterface[] = "OrvexKelPostJob.IDispatch";
inline constexpr char UnknownInterface[] = "OrvexKelPostJob.IUnknown";

// Every error the server sends begins with this name.
inline constexpr char ErrorPrefix[] = "OrvexKelPostJob.Error";

inline constexpr char ClassId[] = "{512B22CC-7774-43C3-A9A8-E3AB492117C5}";
inline constexpr char PostJobInterfaceId[] = "{3A5B6F4F-E114-4C64-B772-50DBEDA3EFB5}";
inline constexpr char EarlierPostJobInterfaceId[] = "{EB1BBC85-A2B0-4118-8D14-C898B471368F}";
inline constexpr char TypeLibraryId[] = "{0517C8CE-AAB6-4719-B67B-F0CAE33828DB}";
// The platform's own identifiers of the two base interfaces.
inline constexpr char UnknownInterfaceId[] = "{00000000-0000-0000-C000-000000000046}";
inline constexpr char DispatchInterfaceId[] = "{00020400-0000-0000-C000-000000000046}";

inline constexpr char TypeLibraryName[] = "OrvexKelPostJob";
inline constexpr int TypeLibraryMajorVersion = 2;
inline constexpr int TypeLibraryMinorVersion = 1;
inline constexpr int TypeLibraryLocale = 0;

inline constexpr char VersionText[] = "1.00.0002";
inline constexpr char FileVersion[] = "1.0.0.2";

inline constexpr int FieldDispatchId = 0x60030002;
inline constexpr int ActionDispatchId = 0x60030003;
inline constexpr int WriteLogDispatchId = 0x60030005;

} // namespace Orvex::Identity

#if NETCOREAPP3_0_OR_GREATER
using System;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

namespace ORQExtClient
{
    /// <summary>On .NET, DllImport("ORQExtClient") looks for libORQExtClient.so, the
    /// development link that a runtime install and the package do not carry; this resolver
    /// loads the library by its SONAME instead (from the package's runtimes/linux-x64/native,
    /// the application's folder or the loader's path). Mono reads the same mapping from
    /// ORQExtClient.Net.dll.config; Windows finds ORQExtClient.dll by itself.</summary>
    internal static class NativeLoader
    {
        // Before the first call of any DllImport: the library has no other entry to hang it on.
#pragma warning disable CA2255
        [ModuleInitializer]
#pragma warning restore CA2255
        internal static void Install()
        {
            NativeLibrary.SetDllImportResolver(typeof(NativeLoader).Assembly, Resolve);
        }

        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
        {
            IntPtr h;
            if (name == "ORQExtClient" && RuntimeInformation.IsOSPlatform(OSPlatform.Linux) &&
                NativeLibrary.TryLoad("libORQExtClient.so.1", assembly, searchPath, out h))
                return h;
            return IntPtr.Zero;
        }
    }
}
#endif

// Which file to load: the host's own choice first, then the conventional
// places, and when nothing loads an exception that lists every attempt.
using System;
using System.Collections.Generic;
using System.IO;
using Juxhid.Interop;

namespace Juxhid
{
    /// <summary>No library could be loaded; <see cref="Tried"/> says what was tried and why each failed.</summary>
    public sealed class LibraryLoadException : DllNotFoundException
    {
        public IReadOnlyList<string> Tried { get; }

        internal LibraryLoadException(string what, IReadOnlyList<string> tried, string hint)
            : base(string.Format("juxhid: could not load {0}; tried: {1}.{2}", what, string.Join("; ", tried),
                                 hint == null ? "" : " " + hint))
        {
            Tried = tried;
        }
    }

    internal static class LibraryLocator
    {
        /// <summary>The variable that names the library of one kind, so that a real-device
        /// library named for Library() never stands in for the simulated bus.</summary>
        internal static string EnvironmentVariable(bool sim)
        {
            return sim ? "JUXHID_SIM_LIBRARY" : "JUXHID_LIBRARY";
        }

        /// <summary>The name the library is installed under (its SONAME on Linux).</summary>
        internal static string SystemName(bool sim)
        {
            if (NativeLoader.IsWindows) return sim ? "juxhid_sim.dll" : "juxhid.dll";
            return sim ? "libjuxhid_sim.so.0" : "libjuxhid.so.0";
        }

        /// <summary>Loads the first that loads of: the path passed; else the variable of its
        /// kind; else the library beside this assembly, then the installed name from the
        /// loader's search path. A path or variable the host gave is the only one tried.</summary>
        internal static NativeModule Load(string path, bool sim, out string loadedPath, out string chosenBy)
        {
            var tried = new List<string>();
            foreach (var candidate in Candidates(path, sim))
            {
                string file = candidate.Key, origin = candidate.Value;
                if (origin == BesideAssembly && !File.Exists(file))
                {
                    tried.Add(string.Format("{0} ({1}): not there", file, origin));
                    continue;
                }
                string error;
                NativeModule module = NativeModule.Open(file, out error);
                if (module != null)
                {
                    loadedPath = file;
                    chosenBy = origin;
                    return module;
                }
                tried.Add(string.Format("{0} ({1}): {2}", file, origin, error));
            }
            throw new LibraryLoadException(sim ? "the simulated-bus library" : "the library", tried,
                string.Format("Name it with new Library(path) or ${0}.", EnvironmentVariable(sim)));
        }

        const string BesideAssembly = "beside the binding's assembly";

        static IEnumerable<KeyValuePair<string, string>> Candidates(string path, bool sim)
        {
            if (!string.IsNullOrEmpty(path))
            {
                yield return Pair(path, "the path passed");
                yield break;
            }
            string variable = EnvironmentVariable(sim);
            string named = Environment.GetEnvironmentVariable(variable);
            if (!string.IsNullOrEmpty(named))
            {
                yield return Pair(named, "$" + variable);
                yield break;
            }
            string folder = AssemblyFolder();
            if (folder != null) yield return Pair(Path.Combine(folder, SystemName(sim)), BesideAssembly);
            yield return Pair(SystemName(sim), "the dynamic loader's search path");
        }

        static KeyValuePair<string, string> Pair(string file, string origin)
        {
            return new KeyValuePair<string, string>(file, origin);
        }

        static string AssemblyFolder()
        {
            string location = typeof(LibraryLocator).Assembly.Location;
            return string.IsNullOrEmpty(location) ? null : Path.GetDirectoryName(location);
        }
    }
}

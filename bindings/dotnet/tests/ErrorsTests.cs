using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text.RegularExpressions;

namespace Juxhid.Tests
{
    public sealed class ErrorsTests : SimTestGroup
    {
        public void AnExceptionCarriesTheCodeItsNameAndMeaning()
        {
            var error = new JuxhidException("SetupInterface", 206);
            Check.Equal("SetupInterface", error.Function, "function");
            Check.Equal(StatusCode.OpenReadDenied, error.Status, "status");
            Check.Equal("JUXHID_OPEN_READ_DENIED", error.Name, "name");
            Check.Equal("SetupInterface failed with 206 JUXHID_OPEN_READ_DENIED: opening the device for reading was denied",
                        error.Message, "message");
            var unknown = new JuxhidException("ReadData", 303303);
            Check.Equal(null, unknown.Name, "name of an unknown code");
            Check.True(unknown.Message.Contains("not a status the library returns"), unknown.Message);
        }

        // The tool expands the header's X-macro with the C preprocessor; the
        // binding's table was generated from the header's text. They must agree.
        public void TheTableAgreesWithTheOneTheCCompilerExpands()
        {
            string tool = Environment.GetEnvironmentVariable("JUXHID_TOOL");
            if (string.IsNullOrEmpty(tool)) throw new TestSkipped("JUXHID_TOOL names no tool to compare with");
            var run = Process.Start(new ProcessStartInfo(tool, "codes") { RedirectStandardOutput = true, UseShellExecute = false });
            string listing = run.StandardOutput.ReadToEnd();
            run.WaitForExit();
            var fromTool = Regex.Matches(listing, @"^ *(-?\d+)  (\w+) +(.*)$", RegexOptions.Multiline).Cast<Match>()
                .Select(m => m.Groups[1].Value + " " + m.Groups[2].Value + ": " + m.Groups[3].Value.TrimEnd());
            var fromBinding = StatusTable.Entries.Select(status => status.ToString());
            Check.Equal(string.Join("\n", fromTool), string.Join("\n", fromBinding), "status table");
            foreach (Status status in StatusTable.Entries)
                Check.Equal(status.Code, (int)Enum.Parse(typeof(StatusCode), Pascal(status.Name)), status.Name);
        }

        static string Pascal(string name)
        {
            return string.Concat(name.Substring("JUXHID_".Length).Split('_')
                .Select(word => word.Substring(0, 1) + word.Substring(1).ToLowerInvariant()));
        }

        public void FailedCallsRaiseTheirFunctionsCodes()
        {
            Attach();
            var cases = new[]
            {
                Row("EnumerateJUX", StatusCode.ListNoDeviceList, () =>
                {
                    Sim.ArmFault(SimCall.ListOpen, 13);
                    Lib.ListDevices(Vendor);
                }),
                Row("SetupInterface", StatusCode.OpenBadIndex, () => Lib.SetupInterface(24)),
                Row("SetupInterface", StatusCode.OpenReadDenied, () =>
                {
                    Sim.ArmFault(SimCall.OpenRead, 5);
                    Lib.SetupInterface(0);
                }),
                Row("ReadData", StatusCode.ReadNotOpen, () => Lib.ReadData(0)),
                Row("ReadLast", StatusCode.LastNotOpen, () => Lib.ReadLast(0)),
                Row("ClearBuffer", StatusCode.ClearNotOpen, () => Lib.ClearBuffer(0)),
                Row("SetDataCallback", StatusCode.CallbackNotOpen, () => Lib.SetDataCallback(0, p => true)),
                Row("SetDataCallback", StatusCode.CallbackNotOpen, () => Lib.SetDataCallback(30, p => true)),
                Row("SetErrorCallback", StatusCode.CallbackNotOpen, () => Lib.SetErrorCallback(0, s => { })),
                Row("WriteData", StatusCode.WriteNotOpen, () => Lib.WriteData(0, new byte[9])),
                Row("FastWrite", StatusCode.WriteNotOpen, () => Lib.FastWrite(0, new byte[9])),
            };
            foreach (var row in cases)
            {
                Lib.ListDevices(Vendor);
                var error = Check.Status(row.Item2, row.Item3, row.Item1 + " " + row.Item2);
                Check.Equal(row.Item1, error.Function, "function of " + row.Item2);
                Lib.CloseInterface(0);
                Sim.ClearFaults();
            }
        }

        static Tuple<string, StatusCode, Action> Row(string function, StatusCode code, Action call)
        {
            return Tuple.Create(function, code, call);
        }

        public void AFileThatCannotBeLoadedIsNamedWithWhatChoseIt()
        {
            string missing = Path.Combine(Path.GetTempPath(), "no-such-juxhid-library.so");
            var error = Check.Throws<LibraryLoadException>(() => new Library(missing, sim: true), "a missing path");
            Check.Equal(1, error.Tried.Count, "tried: " + error.Message);
            Check.True(error.Tried[0].StartsWith(missing + " (the path passed): "), error.Message);

            string saved = Environment.GetEnvironmentVariable("JUXHID_SIM_LIBRARY");
            try
            {
                Environment.SetEnvironmentVariable("JUXHID_SIM_LIBRARY", missing);
                error = Check.Throws<LibraryLoadException>(() => new Library(sim: true), "a missing variable's file");
                Check.True(error.Message.Contains(missing + " ($JUXHID_SIM_LIBRARY)"), error.Message);
                // Nothing named: beside the assembly, then the loader's search
                // path (where the build's library is not, unless installed).
                Environment.SetEnvironmentVariable("JUXHID_SIM_LIBRARY", null);
                CheckUnnamedLoad();
            }
            finally
            {
                Environment.SetEnvironmentVariable("JUXHID_SIM_LIBRARY", saved);
            }

            error = Check.Throws<LibraryLoadException>(() => new Library("libc.so.6"), "a library that is not ours");
            Check.True(error.Message.Contains("does not export EnumerateJUX"), error.Message);
        }

        static void CheckUnnamedLoad()
        {
            try
            {
                using (var found = new Library(sim: true))
                    Check.Equal("the dynamic loader's search path", found.ChosenBy, "chosen by");
            }
            catch (LibraryLoadException unnamed)
            {
                Check.Equal(2, unnamed.Tried.Count, unnamed.Message);
                Check.True(unnamed.Tried[0].Contains("libjuxhid_sim.so.0 (beside the binding's assembly): not there"),
                           unnamed.Message);
                Check.True(unnamed.Tried[1].StartsWith("libjuxhid_sim.so.0 (the dynamic loader's search path): ") &&
                           unnamed.Tried[1].Contains("libjuxhid_sim.so.0: "), "the loader's reason: " + unnamed.Message);
            }
        }

        public void AskingForTheSimulatedBusRefusesTheRealLibrary()
        {
            string real = Environment.GetEnvironmentVariable("JUXHID_TEST_REAL_LIBRARY");
            if (string.IsNullOrEmpty(real)) throw new TestSkipped("JUXHID_TEST_REAL_LIBRARY names no real-device library");
            var error = Check.Throws<LibraryLoadException>(() => new Library(real, sim: true), "sim: true");
            Check.True(error.Message.Contains("has no simulated bus"), error.Message);
            using (var library = new Library(real))
            {
                Check.Equal(null, library.Sim, "the real library's bus");
                Check.Equal("the path passed", library.ChosenBy, "chosen by");
            }
        }

        public void TwoLibraryObjectsOnOneFileShareItsState()
        {
            Check.Equal("$JUXHID_SIM_LIBRARY", Lib.ChosenBy, "the shared library was chosen by");
            using (var second = new Library(Lib.Path, sim: true))
            {
                second.Sim.Attach(Vendor, 7, 0xFF00, 1, 9, 9);
                Check.Equal(7, Lib.ListDevices(Vendor).Single().ProductId, "the device the other object attached");
            }
        }
    }
}

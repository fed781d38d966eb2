using System.Reflection;
using System.Runtime.CompilerServices;

[assembly: AssemblyTitle("Juxhid.Net")]
[assembly: AssemblyDescription("A .NET binding of the JUXHID library")]
// The tests check the native records' layout.
[assembly: InternalsVisibleTo("JuxhidTests")]

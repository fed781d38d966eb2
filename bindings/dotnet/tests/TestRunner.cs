// A small test runner: every public parameterless void method of a class
// derived from TestGroup is a test. `JuxhidTests.exe Callbacks Writing` runs
// the groups CallbacksTests and WritingTests; no argument runs all. Each test
// gets its own instance, its own time limit, and one line of outcome; the
// last line says "N passed, N failed".
using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using System.Threading;

namespace Juxhid.Tests
{
    public abstract class TestGroup
    {
        public virtual void SetUp() { }
        public virtual void TearDown() { }
    }

    public sealed class TestFailure : Exception
    {
        public TestFailure(string message) : base(message) { }
    }

    /// <summary>Thrown by a test that cannot run here; its message says why.</summary>
    public sealed class TestSkipped : Exception
    {
        public TestSkipped(string reason) : base(reason) { }
    }

    public static class TestRunner
    {
        static readonly TimeSpan Limit = TimeSpan.FromSeconds(60);

        public static int Main(string[] groups)
        {
            int passed = 0, failed = 0, skipped = 0;
            foreach (Type group in Groups(groups))
                foreach (MethodInfo test in Tests(group))
                {
                    string name = group.Name + "." + test.Name;
                    string failure = RunOne(group, test);
                    if (failure == null)
                    {
                        passed++;
                        Console.WriteLine("PASS " + name);
                    }
                    else if (failure.StartsWith(SkipMark))
                    {
                        skipped++;
                        Console.WriteLine("SKIP " + name + ": " + failure.Substring(SkipMark.Length));
                    }
                    else
                    {
                        failed++;
                        Console.WriteLine("FAIL " + name + ": " + failure);
                    }
                }
            Console.WriteLine("{0} passed, {1} failed{2}", passed, failed,
                              skipped > 0 ? string.Format(" ({0} skipped)", skipped) : "");
            return failed == 0 && passed > 0 ? 0 : 1;
        }

        static IEnumerable<Type> Groups(string[] names)
        {
            var all = typeof(TestRunner).Assembly.GetTypes()
                .Where(type => type.IsSubclassOf(typeof(TestGroup)) && !type.IsAbstract)
                .OrderBy(type => type.Name).ToList();
            if (names.Length == 0) return all;
            var unknown = names.Where(name => all.All(type => type.Name != name + "Tests")).ToList();
            if (unknown.Count > 0) throw new ArgumentException("no test group " + string.Join(", ", unknown));
            return all.Where(type => names.Contains(type.Name.Substring(0, type.Name.Length - "Tests".Length)));
        }

        static IEnumerable<MethodInfo> Tests(Type group)
        {
            return group.GetMethods(BindingFlags.Public | BindingFlags.Instance | BindingFlags.DeclaredOnly)
                .Where(method => method.ReturnType == typeof(void) && method.GetParameters().Length == 0)
                .OrderBy(method => method.MetadataToken);
        }

        // The test runs on a thread of its own, so that one that hangs fails
        // alone. A hung test leaves the process in an unknown state: the run
        // ends there.
        static string RunOne(Type group, MethodInfo test)
        {
            string failure = null;
            var thread = new Thread(() => failure = Run(group, test));
            thread.Start();
            if (thread.Join(Limit)) return failure;
            Console.WriteLine("FAIL {0}.{1}: still running after {2} s; the run stops here", group.Name, test.Name,
                              Limit.TotalSeconds);
            Console.Out.Flush();
            Environment.Exit(1);
            return null;
        }

        static string Run(Type group, MethodInfo test)
        {
            var instance = (TestGroup)Activator.CreateInstance(group);
            string failure = null;
            try
            {
                instance.SetUp();
                test.Invoke(instance, null);
            }
            catch (Exception error)
            {
                failure = Describe(error);
            }
            try
            {
                instance.TearDown();
            }
            catch (Exception error)
            {
                failure = failure ?? "tear-down: " + Describe(error);
            }
            return failure;
        }

        const string SkipMark = "skipped: ";

        static string Describe(Exception error)
        {
            if (error is TargetInvocationException && error.InnerException != null) error = error.InnerException;
            if (error is TestSkipped) return SkipMark + error.Message;
            return error is TestFailure ? error.Message : error.ToString();
        }
    }

    /// <summary>Assertions that say what was expected and what came.</summary>
    public static class Check
    {
        public static void Equal<T>(T expected, T actual, string what = "")
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
                throw new TestFailure(string.Format("{0}: expected {1}, got {2}", what, Show(expected), Show(actual)));
        }

        public static void Bytes(byte[] expected, byte[] actual, string what = "")
        {
            if (actual == null || !expected.SequenceEqual(actual))
                throw new TestFailure(string.Format("{0}: expected {1}, got {2}", what, Show(expected), Show(actual)));
        }

        public static void True(bool condition, string what)
        {
            if (!condition) throw new TestFailure(what);
        }

        public static TException Throws<TException>(Action action, string what = "") where TException : Exception
        {
            try
            {
                action();
            }
            catch (TException error)
            {
                return error;
            }
            catch (Exception other)
            {
                throw new TestFailure(string.Format("{0}: expected {1}, got {2}", what, typeof(TException).Name, other));
            }
            throw new TestFailure(string.Format("{0}: expected {1}, nothing was thrown", what, typeof(TException).Name));
        }

        public static JuxhidException Status(StatusCode code, Action action, string what = "")
        {
            JuxhidException error = Throws<JuxhidException>(action, what);
            Equal(code, error.Status, what);
            return error;
        }

        /// <summary>Polls until the condition holds or the limit passes.</summary>
        public static bool Eventually(Func<bool> condition, double seconds = 5)
        {
            DateTime deadline = DateTime.UtcNow.AddSeconds(seconds);
            while (!condition())
            {
                if (DateTime.UtcNow > deadline) return false;
                Thread.Sleep(5);
            }
            return true;
        }

        static string Show(object value)
        {
            var bytes = value as byte[];
            if (bytes != null) return "[" + BitConverter.ToString(bytes) + "]";
            return value == null ? "null" : value.ToString();
        }
    }
}

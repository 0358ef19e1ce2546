#pragma once
// Stream buffers that turn what the standard streams are given into log records: each
// complete line becomes one system-log record (or a time-stamped line of an hourly log
// file). Text without a line end waits for the rest of its line unless the buffer is full.

#include <fstream>
#include <streambuf>
#include <string>

// Each record goes to the C library's syslog().
class SysLogStreamBuf : public std::streambuf {
public:
  // Records get the priority facility * 8 + level (facility 3 is daemon).
  SysLogStreamBuf(int facility, int level);
  // Text still pending is dropped.
  ~SysLogStreamBuf() override;
  SysLogStreamBuf(SysLogStreamBuf const&) = delete;
  SysLogStreamBuf& operator=(SysLogStreamBuf const&) = delete;

  int priority() const { return m_priority; }

protected:
  // Takes an array made with new[] (n >= 2); its last byte stays free for a NUL.
  std::streambuf* setbuf(char* buf, std::streamsize n) override;
  int sync() override;
  int overflow(int c) override;

  // Hands each pending record, NUL-terminated and without its line end, to `emit`, then
  // empties the put area. Text without a line end is a record only when the area is full.
  template <class Emit>
  void take_records(Emit emit);

private:
  int m_priority;
};

// Each record goes to the process's SysLogManager, and every flush sends its batch.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
  static constexpr int kAreaSize = 16384;

  ManagedSysLogStreamBuf(int facility, int level);

protected:
  int sync() override;
};

// Lines with a time prefix "MM:SS:uuuuu: " in "<directory>/YYYY_MM_DD-HH.log", a new file
// every hour. A file of the current hour is appended to, so a restart keeps its lines.
class LogFileStreamBuf : public std::streambuf {
public:
  explicit LogFileStreamBuf(std::string const& directory);
  ~LogFileStreamBuf() override;
  LogFileStreamBuf(LogFileStreamBuf const&) = delete;
  LogFileStreamBuf& operator=(LogFileStreamBuf const&) = delete;

  void NewFile();

protected:
  std::streambuf* setbuf(char* buf, std::streamsize n) override;
  int sync() override;
  int overflow(int c) override;

private:
  void open_hour(int hour, struct tm const& local);
  void write(char const* text, std::size_t length) { m_file.sputn(text, static_cast<std::streamsize>(length)); }

  std::filebuf m_file;
  std::string m_directory;
  int m_hour = -1;
  bool m_midline = false;
};

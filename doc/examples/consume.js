#!/usr/bin/env node
// Follows a run from Node.js: the transcript as it grows, then the outcome.
// Press Enter to stop listening early. Exits with mic-transcriber's own status.
const { spawn } = require("node:child_process");
const readline = require("node:readline");

const mic = process.env.MIC_TRANSCRIBER || "mic-transcriber";
const run = spawn(mic, process.argv.slice(2), { stdio: ["inherit", "pipe", "inherit"] });
readline.createInterface({ input: run.stdout }).on("line", (line) => {
  const { kind, text } = JSON.parse(line);
  if (kind === "partial") console.log(`hearing: ${text}`);
  else if (kind === "final") console.log(`transcript: ${text}`);
  else if (kind === "error") console.log(`error: ${text}`);
  else console.log(`(${text})`);
});
run.on("close", (status) => process.exit(status ?? 1));

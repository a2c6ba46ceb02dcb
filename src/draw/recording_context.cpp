// recording context: to be written

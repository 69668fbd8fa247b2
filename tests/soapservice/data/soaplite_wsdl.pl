#!/usr/bin/perl
# Reads the service description from the daemon at $ARGV[0] (the /wsdl URL; kept in the file
# $ARGV[1]) and calls three methods through the stubs that SOAP::Lite builds from it.
use strict;
use warnings;
use SOAP::Lite;
use LWP::UserAgent;
use HTTP::Request;

sub SOAP::Transport::HTTP::Client::get_basic_credentials { return ('root' => 'secret'); }

# The description itself is fetched with the same credentials and read from a file.
my $request = HTTP::Request->new(GET => $ARGV[0]);
$request->authorization_basic('root', 'secret');
my $answer = LWP::UserAgent->new->request($request);
die "wsdl: ", $answer->status_line, "\n" unless $answer->is_success;
open(my $fh, '>', $ARGV[1]) or die "$ARGV[1]: $!\n";
print $fh $answer->content;
close $fh;
my $service = SOAP::Lite->service("file:$ARGV[1]");
$service->on_fault(sub { my ($soap, $res) = @_; print "FAULT ", (ref $res ? $res->faultstring : $soap->transport->status), "\n"; return; });
print "version ", $service->GetVersion(), "\n";
print "normalize ", $service->NormalizeURL('//Host.Example:80/x/./y'), "\n";
print "min ", $service->GetMinClientVersion(), "\n";
